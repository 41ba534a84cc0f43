#include "engine/engine_process.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "engine/data_locations.h"
#include "engine/win32_location_platform.h"

namespace pelno {
namespace {

// The engine counts as started when it is still running this long after launch.
constexpr DWORD kStartupCheckMs = 800;
// While the start is checked, the helper reads the engine's output this often,
// so that an engine with much to say never stalls on a full pipe.
constexpr DWORD kOutputPollMs = 10;
// After a failed start: how long the exiting engine gets to finish.
constexpr DWORD kExitWaitMs = 100;
constexpr DWORD kTerminateWaitMs = 3000;
constexpr DWORD kTerminateExitCode = 0;
constexpr DWORD kDrainChunkBytes = 4096;
constexpr std::size_t kDrainEnoughBytes = 4096;
// Output kept while the start is checked; what comes beyond is read and dropped.
constexpr std::size_t kOutputKeepBytes = 2 * kDrainEnoughBytes;

constexpr std::string_view kPipeFailed = "Failed to create sing-box output pipe";
constexpr std::string_view kHelperStartFailed = "Failed to start sing-box.exe: ";
constexpr std::string_view kHelperExitedImmediately = "sing-box.exe exited immediately: ";
constexpr std::string_view kApplicationStartFailed = "Failed to start sing-box.exe";
constexpr std::string_view kApplicationExitedImmediately =
    "sing-box.exe exited immediately; check the subscription config";

constexpr std::array<const wchar_t*, 3> kEngineEnvironment = {
    L"ENABLE_DEPRECATED_LEGACY_DNS_SERVERS",
    L"ENABLE_DEPRECATED_OUTBOUND_DNS_RULE_ITEM",
    L"ENABLE_DEPRECATED_MISSING_DOMAIN_RESOLVER",
};

class Win32OutputPipeFactory : public OutputPipeFactory {
 public:
  bool CreateOutputPipe(UniqueHandle& readEnd, UniqueHandle& writeEnd) override {
    // Not inheritable: the write end is made inheritable only for its own launch.
    return ::CreatePipe(readEnd.Receive(), writeEnd.Receive(), nullptr, 0) != FALSE;
  }
};

// PROC_THREAD_ATTRIBUTE_HANDLE_LIST naming exactly the handles a child may inherit.
class InheritedHandleList {
 public:
  explicit InheritedHandleList(std::vector<HANDLE> handles) : handles_(std::move(handles)) {}
  InheritedHandleList(const InheritedHandleList&) = delete;
  InheritedHandleList& operator=(const InheritedHandleList&) = delete;
  ~InheritedHandleList() {
    if (initialized_) ::DeleteProcThreadAttributeList(List());
  }

  // 0 on success, else the error code.
  DWORD Initialize() {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize(size);
    if (!::InitializeProcThreadAttributeList(List(), 1, 0, &size)) return ::GetLastError();
    initialized_ = true;
    if (!::UpdateProcThreadAttribute(List(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                     handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
      return ::GetLastError();
    }
    return ERROR_SUCCESS;
  }

  LPPROC_THREAD_ATTRIBUTE_LIST List() {
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
  }

 private:
  std::vector<HANDLE> handles_;
  std::vector<unsigned char> storage_;
  bool initialized_ = false;
};

// The helper's standard input goes to the engine only when it is a real,
// inheritable handle (a service has none).
HANDLE InheritableStandardInput() {
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return nullptr;
  DWORD flags = 0;
  if (!::GetHandleInformation(input, &flags) || (flags & HANDLE_FLAG_INHERIT) == 0) return nullptr;
  return input;
}

// Reads whatever is waiting, keeping up to `keep` bytes and dropping the rest,
// so that the writer never blocks on a full pipe. Never blocks itself.
void ReadAvailable(HANDLE pipe, std::string& output, std::size_t keep) {
  std::array<char, kDrainChunkBytes> buffer;
  DWORD available = 0;
  while (::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
    DWORD read = 0;
    const DWORD wanted = std::min<DWORD>(available, kDrainChunkBytes);
    if (!::ReadFile(pipe, buffer.data(), wanted, &read, nullptr) || read == 0) return;
    if (output.size() < keep) output.append(buffer.data(), std::min<std::size_t>(read, keep - output.size()));
  }
}

void StoreProcess(EngineProcess& slot, const PROCESS_INFORMATION& info) {
  slot.process.Reset(info.hProcess);
  slot.thread.Reset(info.hThread);
  slot.processId = info.dwProcessId;
  slot.threadId = info.dwThreadId;
}

bool StartHelperEngine(EngineProcess& slot, std::wstring commandLine,
                       const std::wstring& directory, std::string& error,
                       OutputPipeFactory& pipes) {
  UniqueHandle readEnd;
  UniqueHandle writeEnd;
  if (!pipes.CreateOutputPipe(readEnd, writeEnd)) {
    error = kPipeFailed;
    return false;
  }

  const HANDLE input = InheritableStandardInput();
  std::vector<HANDLE> inherited = {writeEnd.Get()};
  if (input != nullptr) inherited.push_back(input);
  InheritedHandleList handleList(inherited);
  DWORD launchError = handleList.Initialize();

  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = SW_HIDE;
  startup.StartupInfo.hStdInput = input;
  startup.StartupInfo.hStdOutput = writeEnd.Get();
  startup.StartupInfo.hStdError = writeEnd.Get();
  startup.lpAttributeList = handleList.List();

  SetEngineEnvironment();
  PROCESS_INFORMATION info = {};
  bool created = false;
  if (launchError == ERROR_SUCCESS &&
      ::SetHandleInformation(writeEnd.Get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
    created = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                               CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                               directory.c_str(), &startup.StartupInfo, &info) != FALSE;
    if (!created) launchError = ::GetLastError();
  } else if (launchError == ERROR_SUCCESS) {
    launchError = ::GetLastError();
  }
  // The child holds its own copy; ours must go now or the pipe never ends.
  writeEnd.Reset();
  if (!created) {
    error = std::string(kHelperStartFailed) + std::to_string(launchError);
    return false;
  }
  StoreProcess(slot, info);

  std::string output;
  const ULONGLONG deadline = ::GetTickCount64() + kStartupCheckMs;
  for (ULONGLONG now = ::GetTickCount64(); now < deadline; now = ::GetTickCount64()) {
    ReadAvailable(readEnd.Get(), output, kOutputKeepBytes);
    ::Sleep(static_cast<DWORD>(std::min<ULONGLONG>(kOutputPollMs, deadline - now)));
  }
  if (IsEngineRunning(slot)) return true;

  ::WaitForSingleObject(slot.process.Get(), kExitWaitMs);
  if (output.size() <= kDrainEnoughBytes) output += DrainOutputPipe(readEnd.Get());
  StopEngine(slot);
  error = std::string(kHelperExitedImmediately) + SummarizeOutput(output, kEngineOutputSummaryLimit);
  return false;
}

bool StartApplicationEngine(EngineProcess& slot, std::wstring commandLine,
                            const std::wstring& directory, std::string& error) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  SetEngineEnvironment();
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, directory.c_str(), &startup, &info)) {
    error = kApplicationStartFailed;
    return false;
  }
  StoreProcess(slot, info);
  ::Sleep(kStartupCheckMs);
  if (IsEngineRunning(slot)) return true;
  // The exited process stays in the slot until the caller stops it.
  error = kApplicationExitedImmediately;
  return false;
}

}  // namespace

std::wstring EngineRunCommandLine(const std::wstring& enginePath, const std::wstring& configPath) {
  return L"\"" + enginePath + L"\" run -c \"" + configPath + L"\"";
}

void SetEngineEnvironment() {
  for (const wchar_t* name : kEngineEnvironment) ::SetEnvironmentVariableW(name, L"true");
}

OutputPipeFactory& SystemOutputPipeFactory() {
  static Win32OutputPipeFactory factory;
  return factory;
}

std::string DrainOutputPipe(HANDLE readEnd) {
  std::string output;
  std::array<char, kDrainChunkBytes> buffer;
  DWORD available = 0;
  if (!::PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr)) return output;
  while (available > 0) {
    DWORD read = 0;
    const DWORD wanted = std::min<DWORD>(available, kDrainChunkBytes);
    if (!::ReadFile(readEnd, buffer.data(), wanted, &read, nullptr) || read == 0) break;
    output.append(buffer.data(), read);
    if (output.size() > kDrainEnoughBytes) break;
    if (!::PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr)) break;
  }
  return output;
}

bool IsEngineRunning(const EngineProcess& slot) {
  DWORD code = 0;
  return slot.process && ::GetExitCodeProcess(slot.process.Get(), &code) && code == STILL_ACTIVE;
}

void StopEngine(EngineProcess& slot) {
  if (slot.process) {
    if (IsEngineRunning(slot)) {
      ::TerminateProcess(slot.process.Get(), kTerminateExitCode);
      ::WaitForSingleObject(slot.process.Get(), kTerminateWaitMs);
    }
    slot.process.Reset();
  }
  slot.thread.Reset();
  slot.processId = 0;
  slot.threadId = 0;
}

bool StartEngine(EngineProcess& slot, const std::wstring& configPath, EngineVariant variant,
                 std::string& error, LocationPlatform& locations, OutputPipeFactory& pipes) {
  const ExecutableLookup engine = FindEngineExecutable(locations);
  if (engine.Failed()) {
    error = engine.error;
    return false;
  }
  if (engine.path.empty()) {
    error = kEngineNotFoundMessage;
    return false;
  }
  std::wstring commandLine = EngineRunCommandLine(engine.path, configPath);
  const std::wstring directory = DataDirectory(locations);
  if (variant == EngineVariant::kHelper) {
    return StartHelperEngine(slot, std::move(commandLine), directory, error, pipes);
  }
  return StartApplicationEngine(slot, std::move(commandLine), directory, error);
}

bool StartEngine(EngineProcess& slot, const std::wstring& configPath, EngineVariant variant,
                 std::string& error) {
  return StartEngine(slot, configPath, variant, error, SystemLocationPlatform(),
                     SystemOutputPipeFactory());
}

}  // namespace pelno
