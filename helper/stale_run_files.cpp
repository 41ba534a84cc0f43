#include "helper/stale_run_files.h"

#include <windows.h>

#include "base/unique_handle.h"

namespace pelno {
namespace {

constexpr std::wstring_view kPrefix = L"sing-box-urltest-";
constexpr std::wstring_view kSuffix = L".json";

// One or more decimal digits at the front of `text`, taken off it.
bool TakeDigits(std::wstring_view& text) {
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= L'0' && text[digits] <= L'9') ++digits;
  text.remove_prefix(digits);
  return digits > 0;
}

}  // namespace

bool IsUrlTestRunFileName(std::wstring_view name) {
  if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix)) return false;
  std::wstring_view middle = name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
  if (!TakeDigits(middle) || !middle.starts_with(L'-')) return false;
  middle.remove_prefix(1);
  return TakeDigits(middle) && middle.empty();
}

void RemoveStaleUrlTestFiles(const std::wstring& directory) {
  const std::wstring pattern = directory + L"\\" + std::wstring(kPrefix) + L"*" + std::wstring(kSuffix);
  WIN32_FIND_DATAW found;
  // The basic search gives no short names; the long name is checked again below,
  // since the system's wildcard may also match a short one.
  UniqueFindHandle search(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                             FindExSearchNameMatch, nullptr, 0));
  if (!search) return;  // no such file, or no directory yet
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && IsUrlTestRunFileName(found.cFileName)) {
      ::DeleteFileW((directory + L"\\" + found.cFileName).c_str());  // best effort
    }
  } while (::FindNextFileW(search.Get(), &found));
}

}  // namespace pelno
