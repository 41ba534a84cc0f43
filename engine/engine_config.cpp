#include "engine/engine_config.h"

#include <algorithm>

#include "engine/data_locations.h"
#include "engine/file_system_error.h"
#include "base/system_error_text.h"
#include "base/unique_handle.h"

namespace pelno {
namespace {

constexpr std::string_view kWriteFailed = "Failed to write sing-box config";
// WriteFile takes a 32-bit count; larger texts go in pieces.
constexpr std::size_t kWriteChunkBytes = 1u << 30;

bool IsDirectory(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min(bytes.size(), kWriteChunkBytes));
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

}  // namespace

DWORD CreateDirectoryTree(const std::wstring& path) {
  if (path.empty()) return ERROR_SUCCESS;
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS;
  }
  const std::wstring parent = ParentPath(path);
  if (!parent.empty() && parent != path) {
    const DWORD parentError = CreateDirectoryTree(parent);
    if (parentError != ERROR_SUCCESS) return parentError;
  }
  if (::CreateDirectoryW(path.c_str(), nullptr)) return ERROR_SUCCESS;
  const DWORD error = ::GetLastError();
  // Created meanwhile by someone else, or a path spelled with trailing separators.
  if (error == ERROR_ALREADY_EXISTS && IsDirectory(path)) return ERROR_SUCCESS;
  return error;
}

bool WriteEngineConfig(std::string_view configText, EngineVariant variant, std::string& error,
                       LocationPlatform& locations) {
  const std::wstring directory = DataDirectory(locations);
  const DWORD directoryError = CreateDirectoryTree(directory);
  if (directoryError != ERROR_SUCCESS) {
    error = variant == EngineVariant::kHelper
                ? SystemErrorText(directoryError)
                : FileSystemErrorText("create_directories", SystemErrorText(directoryError),
                                      directory);
    return false;
  }

  const std::wstring path = EngineConfigPath(locations);
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    error = kWriteFailed;
    return false;
  }
  const bool written = WriteAll(file.Get(), configText);
  const bool closed = ::CloseHandle(file.Release()) != FALSE;
  if (!written || !closed) {
    error = kWriteFailed;
    return false;
  }
  return true;
}

}  // namespace pelno
