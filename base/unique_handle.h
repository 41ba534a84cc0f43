// Move-only owners for Win32 handles: each closes its handle with the right
// function when it goes out of scope.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <wininet.h>
#include <winsvc.h>
#include <wtsapi32.h>

#include <utility>

namespace pelno {

// Traits say which value means "empty" and how a handle is closed.
struct KernelHandleTraits {
  static HANDLE Invalid() { return nullptr; }
  static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { ::CloseHandle(h); }
};

struct RegistryKeyTraits {
  static HKEY Invalid() { return nullptr; }
  static bool IsValid(HKEY h) { return h != nullptr; }
  static void Close(HKEY h) { ::RegCloseKey(h); }
};

template <typename T, typename Traits>
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(T handle) : handle_(handle) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~ScopedHandle() { Reset(); }

  T Get() const { return handle_; }
  bool IsValid() const { return Traits::IsValid(handle_); }
  explicit operator bool() const { return IsValid(); }

  // Gives up ownership without closing.
  T Release() { return std::exchange(handle_, Traits::Invalid()); }

  void Reset(T handle = Traits::Invalid()) {
    T old = std::exchange(handle_, handle);
    if (Traits::IsValid(old)) Traits::Close(old);
  }

  // For APIs that return a handle through an out parameter. Closes any handle held.
  T* Receive() {
    Reset();
    return &handle_;
  }

 private:
  T handle_ = Traits::Invalid();
};

using UniqueHandle = ScopedHandle<HANDLE, KernelHandleTraits>;
using UniqueRegKey = ScopedHandle<HKEY, RegistryKeyTraits>;

// A directory search of FindFirstFileExW.
struct FindHandleTraits {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Close(HANDLE h) { ::FindClose(h); }
};

using UniqueFindHandle = ScopedHandle<HANDLE, FindHandleTraits>;

struct SocketTraits {
  static SOCKET Invalid() { return INVALID_SOCKET; }
  static bool IsValid(SOCKET s) { return s != INVALID_SOCKET; }
  static void Close(SOCKET s) { ::closesocket(s); }
};

using UniqueSocket = ScopedHandle<SOCKET, SocketTraits>;

// The service control manager's handles, of the manager and of a service.
struct ServiceHandleTraits {
  static SC_HANDLE Invalid() { return nullptr; }
  static bool IsValid(SC_HANDLE h) { return h != nullptr; }
  static void Close(SC_HANDLE h) { ::CloseServiceHandle(h); }
};

using UniqueServiceHandle = ScopedHandle<SC_HANDLE, ServiceHandleTraits>;

// WinINet's session, connection and request handles.
struct InternetHandleTraits {
  static HINTERNET Invalid() { return nullptr; }
  static bool IsValid(HINTERNET h) { return h != nullptr; }
  static void Close(HINTERNET h) { ::InternetCloseHandle(h); }
};

using UniqueInternetHandle = ScopedHandle<HINTERNET, InternetHandleTraits>;

// Memory a system call allocated for the caller to free with LocalFree
// (CommandLineToArgvW's array, a converted security descriptor).
template <typename T>
struct LocalMemoryTraits {
  static T Invalid() { return nullptr; }
  static bool IsValid(T p) { return p != nullptr; }
  static void Close(T p) { ::LocalFree(p); }
};

template <typename T>
using UniqueLocalMemory = ScopedHandle<T, LocalMemoryTraits<T>>;

// Memory the terminal services calls allocated (WTSQuerySessionInformationW's
// text), freed with WTSFreeMemory; the user links wtsapi32.
template <typename T>
struct WtsMemoryTraits {
  static T Invalid() { return nullptr; }
  static bool IsValid(T p) { return p != nullptr; }
  static void Close(T p) { ::WTSFreeMemory(p); }
};

template <typename T>
using UniqueWtsMemory = ScopedHandle<T, WtsMemoryTraits<T>>;

}  // namespace pelno
