#include "base/running_under_wine.h"

#include <windows.h>

namespace pelno {

bool RunningUnderWine() {
  static const bool underWine = [] {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return underWine;
}

}  // namespace pelno
