// A uniquely named folder under the system's temporary folder, removed with all
// its content when the object goes, and whole-file reads and writes (Win32 tests).
#pragma once

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace pelno::testing {

inline bool WriteFileBytes(const std::wstring& path, std::string_view bytes) {
  std::ofstream file(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  return file.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).flush().good();
}

inline std::string ReadFileBytes(const std::wstring& path) {
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  return file ? std::string(std::istreambuf_iterator<char>(file), {}) : "<unreadable>";
}

class TempFolder {
 public:
  explicit TempFolder(std::wstring_view label = L"engine") {
    static std::atomic<int> counter{0};
    wchar_t base[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, base);
    path_ = std::wstring(base) + L"pelno-" + std::wstring(label) + L"-" + std::to_wstring(::GetCurrentProcessId()) +
            L"-" + std::to_wstring(::GetTickCount64()) + L"-" + std::to_wstring(counter++);
    ::CreateDirectoryW(path_.c_str(), nullptr);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  const std::wstring& path() const { return path_; }
  std::wstring operator/(std::wstring_view name) const { return path_ + L"\\" + std::wstring(name); }

 private:
  std::wstring path_;
};

}  // namespace pelno::testing
