#include "urltest/url_test_config_file.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "base/unique_handle.h"
#include "urltest/url_test_stream.h"

namespace pelno {
namespace {

constexpr DWORD kWriteChunkBytes = 1048576;

std::atomic<std::uint64_t> runCounter{0};

}  // namespace

std::wstring MakeUrlTestConfigPath(LocationPlatform& locations) {
  return DataDirectory(locations) + L"\\" +
         UrlTestConfigFileName(::GetCurrentProcessId(), ++runCounter);
}

bool WriteUrlTestConfig(const std::wstring& path, std::string_view bytes, std::string& error) {
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    error = "CreateFile failed: " + std::to_string(::GetLastError());
    return false;
  }
  while (!bytes.empty()) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), kWriteChunkBytes));
    // A call that reports nothing written would never finish the loop.
    if (!::WriteFile(file.Get(), bytes.data(), chunk, &written, nullptr) || written == 0) {
      error = "WriteFile failed: " + std::to_string(::GetLastError());
      return false;
    }
    bytes.remove_prefix(written);
  }
  if (!::CloseHandle(file.Release())) {
    error = "CloseHandle failed: " + std::to_string(::GetLastError());
    return false;
  }
  return true;
}

}  // namespace pelno
