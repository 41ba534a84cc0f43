#include "tools/stand_in_engine/process_facts.h"

#include <windows.h>

#include "base/unique_handle.h"
#include "base/text_encoding.h"

namespace pelno {

std::vector<uint64_t> InheritableHandleValues() {
  std::vector<uint64_t> values;
  for (uintptr_t value = 4; value < kHandleProbeLimit; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) &&
        (flags & HANDLE_FLAG_INHERIT) != 0) {
      values.push_back(value);
    }
  }
  return values;
}

LaunchRecord CollectLaunchRecord(const std::string& command, const std::vector<std::string>& argv,
                                 std::vector<uint64_t> inheritable_handles) {
  LaunchRecord record;
  record.command = command;
  record.command_line = WideToUtf8(GetCommandLineW());
  record.argv = argv;
  DWORD size = GetCurrentDirectoryW(0, nullptr);
  std::wstring cwd(size, L'\0');
  DWORD length = size > 0 ? GetCurrentDirectoryW(size, cwd.data()) : 0;
  cwd.resize(length < size ? length : 0);
  record.cwd = WideToUtf8(cwd);
  for (const char* name : kRecordedEnvironmentVariables) {
    std::wstring wide_name = Utf8ToWide(name);
    SetLastError(ERROR_SUCCESS);
    DWORD needed = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
    if (needed == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
      record.env.emplace_back(name, std::nullopt);
      continue;
    }
    std::wstring value(needed, L'\0');
    DWORD got = needed > 0 ? GetEnvironmentVariableW(wide_name.c_str(), value.data(), needed) : 0;
    value.resize(got < needed ? got : 0);
    record.env.emplace_back(name, WideToUtf8(value));
  }
  record.pid = GetCurrentProcessId();
  record.inheritable_handles = std::move(inheritable_handles);
  record.console = GetConsoleCP() != 0;
  return record;
}

uint64_t UnixTimeMicroseconds() {
  constexpr uint64_t kUnixEpochIn100ns = 116444736000000000ull;  // 1601 to 1970
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  const uint64_t ticks = (uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
  return (ticks - kUnixEpochIn100ns) / 10;
}

bool AppendRecordLine(const std::string& path_utf8, const std::string& line, std::string& error) {
  std::wstring path = Utf8ToWide(path_utf8);
  // Append-only access puts every write at the end, but under Wine two processes
  // appending at once can still overwrite each other: one line at a time.
  UniqueHandle lock(CreateMutexW(nullptr, FALSE, L"Local\\pelno-stand-in-record-file"));
  if (lock) WaitForSingleObject(lock.Get(), 10000);
  struct Unlock {
    HANDLE mutex;
    ~Unlock() {
      if (mutex != nullptr) ReleaseMutex(mutex);
    }
  } unlock{lock.Get()};
  UniqueHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    error =
        "cannot open record file \"" + path_utf8 + "\": error " + std::to_string(GetLastError());
    return false;
  }
  DWORD written = 0;
  if (!WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
      written != line.size()) {
    error =
        "cannot write record file \"" + path_utf8 + "\": error " + std::to_string(GetLastError());
    return false;
  }
  FlushFileBuffers(file.Get());
  return true;
}

}  // namespace pelno
