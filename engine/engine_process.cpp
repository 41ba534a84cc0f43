#include "engine/engine_process.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "engine/data_locations.h"
#include "engine/output_summary.h"

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
// Output kept from an engine whose start is checked; what comes beyond is dropped.
constexpr std::size_t kOutputKeepBytes = 8192;

constexpr std::string_view kPipeFailed = "Failed to create sing-box output pipe";
constexpr std::string_view kHelperStartFailed = "Failed to start sing-box.exe: ";
constexpr std::string_view kHelperExitedImmediately = "sing-box.exe exited immediately: ";
constexpr std::string_view kApplicationStartFailed = "Failed to start sing-box.exe";
constexpr std::string_view kApplicationExitedImmediately =
    "sing-box.exe exited immediately; check the subscription config";

// The helper's standard input goes to the engine only when it is a real,
// inheritable handle (a service has none).
HANDLE InheritableStandardInput() {
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return nullptr;
  DWORD flags = 0;
  if (!::GetHandleInformation(input, &flags) || (flags & HANDLE_FLAG_INHERIT) == 0) return nullptr;
  return input;
}

// The engine's path into `path`, or false with the lookup's message in `error`.
bool LocateEngine(LocationPlatform& locations, EngineSearch search, std::wstring& path,
                  std::string& error) {
  ExecutableSearchResult engine = FindEngineExecutable(search, locations);
  if (engine.Failed()) {
    error = engine.error;
    return false;
  }
  if (engine.path.empty()) {
    error = kEngineNotFoundMessage;
    return false;
  }
  path = std::move(engine.path);
  return true;
}

}  // namespace

bool Win32OutputPipeFactory::CreateOutputPipe(UniqueHandle& readEnd, UniqueHandle& writeEnd) {
  // Not inheritable: the launcher lends the write end to its own launch only.
  return ::CreatePipe(readEnd.Receive(), writeEnd.Receive(), nullptr, 0) != FALSE;
}

LaunchOptions EngineLaunchOptions(std::wstring commandLine, LocationPlatform& locations, HANDLE job) {
  LaunchOptions options;
  options.commandLine = std::move(commandLine);
  options.workingDirectory = DataDirectory(locations);
  options.environment = {{L"ENABLE_DEPRECATED_LEGACY_DNS_SERVERS", L"true"},
                         {L"ENABLE_DEPRECATED_OUTBOUND_DNS_RULE_ITEM", L"true"},
                         {L"ENABLE_DEPRECATED_MISSING_DOMAIN_RESOLVER", L"true"}};
  options.job = job;
  options.detached = true;  // the output goes to a pipe or nowhere: no console needed
  return options;
}

std::wstring EngineRunCommandLine(const std::wstring& enginePath, const std::wstring& configPath) {
  return L"\"" + enginePath + L"\" run -c \"" + configPath + L"\"";
}

bool StartHelperEngine(EngineProcess& slot, const std::wstring& configPath, std::string& error,
                       LocationPlatform& locations, OutputPipeFactory& pipes, HANDLE job) {
  std::wstring enginePath;
  if (!LocateEngine(locations, EngineSearch::kProgramFolders, enginePath, error)) return false;
  UniqueHandle readEnd;
  UniqueHandle writeEnd;
  if (!pipes.CreateOutputPipe(readEnd, writeEnd)) {
    error = kPipeFailed;
    return false;
  }
  LaunchOptions options =
      EngineLaunchOptions(EngineRunCommandLine(enginePath, configPath), locations, job);
  options.standardOutput = options.standardError = writeEnd.Get();
  options.inheritedHandles = {writeEnd.Get()};
  if (const HANDLE input = InheritableStandardInput()) {
    options.standardInput = input;
    options.inheritedHandles.push_back(input);
  }
  EngineProcess started;
  const DWORD launchError = LaunchProcess(options, started);
  // The child holds its own copy; ours must go now or the pipe never ends.
  writeEnd.Reset();
  if (launchError != ERROR_SUCCESS) {
    error = std::string(kHelperStartFailed) + std::to_string(launchError);
    return false;
  }
  slot = std::move(started);  // closes handles an earlier start left, terminates nothing

  std::string output;
  const ULONGLONG deadline = ::GetTickCount64() + kStartupCheckMs;
  for (ULONGLONG now = ::GetTickCount64(); now < deadline; now = ::GetTickCount64()) {
    DrainOutputPipe(readEnd.Get(), output, kOutputKeepBytes);
    ::Sleep(static_cast<DWORD>(std::min<ULONGLONG>(kOutputPollMs, deadline - now)));
  }
  if (IsEngineRunning(slot)) return true;

  ::WaitForSingleObject(slot.process.Get(), kExitWaitMs);
  DrainOutputPipe(readEnd.Get(), output, kOutputKeepBytes);
  StopEngine(slot);
  error = std::string(kHelperExitedImmediately) + SummarizeOutput(output, kEngineOutputSummaryLimit);
  return false;
}

bool StartApplicationEngine(EngineProcess& slot, const std::wstring& configPath, std::string& error,
                            LocationPlatform& locations, HANDLE job) {
  std::wstring enginePath;
  if (!LocateEngine(locations, EngineSearch::kProgramFoldersThenSearchPath, enginePath, error))
    return false;
  EngineProcess started;
  const LaunchOptions options =
      EngineLaunchOptions(EngineRunCommandLine(enginePath, configPath), locations, job);
  if (LaunchProcess(options, started) != ERROR_SUCCESS) {
    error = kApplicationStartFailed;
    return false;
  }
  slot = std::move(started);
  ::Sleep(kStartupCheckMs);
  if (IsEngineRunning(slot)) return true;
  error = kApplicationExitedImmediately;
  return false;
}

bool IsEngineRunning(const EngineProcess& slot) {
  return slot.process && ::WaitForSingleObject(slot.process.Get(), 0) == WAIT_TIMEOUT;
}

void StopEngine(EngineProcess& slot) {
  if (IsEngineRunning(slot)) slot.TerminateAndWait(kTerminateExitCode, kTerminateWaitMs);
  slot = EngineProcess{};
}

}  // namespace pelno
