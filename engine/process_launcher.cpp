#include "engine/process_launcher.h"

#include <algorithm>
#include <array>
#include <cwctype>
#include <memory>

namespace pelno {
namespace {

constexpr DWORD kPipeReadChunkBytes = 4096;

// PROC_THREAD_ATTRIBUTE_HANDLE_LIST naming exactly the handles a child may inherit.
class InheritedHandleList {
 public:
  InheritedHandleList() = default;
  InheritedHandleList(const InheritedHandleList&) = delete;
  InheritedHandleList& operator=(const InheritedHandleList&) = delete;
  ~InheritedHandleList() {
    if (initialized_) ::DeleteProcThreadAttributeList(List());
  }

  // 0 on success, else the error code. `handles` must outlive the list.
  DWORD Initialize(std::vector<HANDLE>& handles) {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize(size);
    if (!::InitializeProcThreadAttributeList(List(), 1, 0, &size)) return ::GetLastError();
    initialized_ = true;
    if (!::UpdateProcThreadAttribute(List(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.data(),
                                     handles.size() * sizeof(HANDLE), nullptr, nullptr)) {
      return ::GetLastError();
    }
    return ERROR_SUCCESS;
  }

  LPPROC_THREAD_ATTRIBUTE_LIST List() {
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
  }

 private:
  std::vector<unsigned char> storage_;
  bool initialized_ = false;
};

struct EnvironmentStringsDeleter {
  void operator()(wchar_t* block) const { ::FreeEnvironmentStringsW(block); }
};

std::wstring UpperName(std::wstring_view entry) {
  // "=C:=C:\dir" entries keep their leading '=' as part of the name.
  const std::size_t equals = entry.find(L'=', 1);
  std::wstring name(entry.substr(0, equals));
  for (wchar_t& c : name) c = static_cast<wchar_t>(std::towupper(c));
  return name;
}

// Makes the listed handles inheritable for one launch and takes the flag back after.
class InheritanceForLaunch {
 public:
  explicit InheritanceForLaunch(const std::vector<HANDLE>& handles) : handles_(handles) {}
  DWORD Grant() {
    for (const HANDLE handle : handles_) {
      DWORD flags = 0;
      if (!::GetHandleInformation(handle, &flags)) return ::GetLastError();
      if ((flags & HANDLE_FLAG_INHERIT) != 0) continue;
      if (!::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
        return ::GetLastError();
      granted_.push_back(handle);
    }
    return ERROR_SUCCESS;
  }
  ~InheritanceForLaunch() {
    for (const HANDLE handle : granted_) ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
  }

 private:
  const std::vector<HANDLE>& handles_;
  std::vector<HANDLE> granted_;
};

}  // namespace

std::wstring MergeEnvironmentBlock(
    const wchar_t* base, const std::vector<std::pair<std::wstring, std::wstring>>& additions) {
  std::vector<std::wstring> entries;
  for (const wchar_t* entry = base; entry != nullptr && *entry != L'\0';
       entry += std::wcslen(entry) + 1) {
    entries.emplace_back(entry);
  }
  for (const auto& [name, value] : additions) {
    const std::wstring key = UpperName(name + L"=");
    std::erase_if(entries, [&key](const std::wstring& e) { return UpperName(e) == key; });
    entries.push_back(name + L"=" + value);
  }
  std::stable_sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
    return UpperName(a) < UpperName(b);
  });
  std::wstring block;
  for (const std::wstring& entry : entries) {
    block += entry;
    block += L'\0';
  }
  block += L'\0';
  if (entries.empty()) block += L'\0';
  return block;
}

DWORD LaunchProcess(const LaunchOptions& options, LaunchedProcess& launched) {
  std::vector<HANDLE> inherited = options.inheritedHandles;
  InheritedHandleList handleList;
  if (!inherited.empty()) {
    if (const DWORD error = handleList.Initialize(inherited)) return error;
  }

  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof(startup);
  if (options.hidden) {
    startup.StartupInfo.dwFlags |= STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = SW_HIDE;
  }
  if (options.standardInput || options.standardOutput || options.standardError) {
    startup.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = options.standardInput;
    startup.StartupInfo.hStdOutput = options.standardOutput;
    startup.StartupInfo.hStdError = options.standardError;
  }
  DWORD flags = CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT;
  if (options.detached) {
    flags |= DETACHED_PROCESS;
  } else if (options.hidden) {
    flags |= CREATE_NO_WINDOW;
  }
  if (!inherited.empty()) {
    flags |= EXTENDED_STARTUPINFO_PRESENT;
    startup.lpAttributeList = handleList.List();
  }

  std::wstring environment;
  if (!options.environment.empty()) {
    const std::unique_ptr<wchar_t, EnvironmentStringsDeleter> base(::GetEnvironmentStringsW());
    environment = MergeEnvironmentBlock(base.get(), options.environment);
  }

  InheritanceForLaunch inheritance(inherited);
  if (const DWORD error = inheritance.Grant()) return error;
  std::wstring commandLine = options.commandLine;
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, !inherited.empty(), flags,
                        environment.empty() ? nullptr : environment.data(),
                        options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str(),
                        &startup.StartupInfo, &info)) {
    return ::GetLastError();
  }
  LaunchedProcess child;
  child.process.Reset(info.hProcess);
  child.thread.Reset(info.hThread);
  child.processId = info.dwProcessId;
  child.threadId = info.dwThreadId;

  if (options.job != nullptr && !::AssignProcessToJobObject(options.job, child.process.Get())) {
    const DWORD error = ::GetLastError();
    ::TerminateProcess(child.process.Get(), 1);
    return error;
  }
  if (::ResumeThread(child.thread.Get()) == static_cast<DWORD>(-1)) {
    const DWORD error = ::GetLastError();
    ::TerminateProcess(child.process.Get(), 1);
    return error;
  }
  launched = std::move(child);
  return ERROR_SUCCESS;
}

void LaunchedProcess::TerminateAndWait(UINT exitCode, DWORD waitMs) const {
  if (!process) return;
  ::TerminateProcess(process.Get(), exitCode);
  ::WaitForSingleObject(process.Get(), waitMs);
}

UniqueHandle CreateEngineJob() {
  UniqueHandle job(::CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job && !::SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits)))
    job.Reset();
  return job;
}

std::size_t DrainOutputPipe(HANDLE readEnd, std::string& output, std::size_t keepBytes) {
  std::array<char, kPipeReadChunkBytes> buffer;
  std::size_t total = 0;
  DWORD available = 0;
  while (::PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
    DWORD read = 0;
    const DWORD wanted = std::min<DWORD>(available, kPipeReadChunkBytes);
    if (!::ReadFile(readEnd, buffer.data(), wanted, &read, nullptr) || read == 0) break;
    total += read;
    if (output.size() < keepBytes)
      output.append(buffer.data(), std::min<std::size_t>(read, keepBytes - output.size()));
  }
  return total;
}

}  // namespace pelno
