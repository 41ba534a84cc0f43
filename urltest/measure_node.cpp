#include "urltest/measure_node.h"

#include <windows.h>

#include "base/text_encoding.h"
#include "base/unique_handle.h"
#include "engine/engine_process.h"
#include "engine/process_launcher.h"
#include "urltest/engine_output_reader.h"
#include "urltest/fetch_command_line.h"
#include "urltest/url_test_registry.h"

namespace pelno {
namespace {

constexpr DWORD kTerminatedWaitMs = 1000;
constexpr UINT kTerminateExitCode = 1;
constexpr DWORD kSkippedWaitResult = 128;
// The engine's output pipe: room enough that output rarely waits for the next read.
constexpr DWORD kOutputPipeBytes = 64 * 1024;

bool Fail(NodeMeasurement& record, const char* note, DWORD error = 0) {
  record.note = note;
  record.lastError = error;
  record.delayMs = 0;
  return false;
}

}  // namespace

bool MeasureNode(const std::wstring& configPath, UrlTestRegistry::RunId run,
                 const std::string& nodeTag, const std::string& testUrl, NodeMeasurement& record,
                 UrlTestRegistry& registry, LocationPlatform& locations, HANDLE job) {
  if (registry.IsRunStopping(run)) {
    record.waitResult = kSkippedWaitResult;
    return Fail(record, "URLTest canceled before start");
  }
  const ExecutableSearchResult engine = FindEngineExecutable(EngineSearch::kProgramFolders, locations);
  if (!engine.Found()) return Fail(record, "sing-box.exe not found");
  // A NUL would end the command line early and cut off the arguments after it.
  if (nodeTag.find('\0') != std::string::npos || testUrl.find('\0') != std::string::npos)
    return Fail(record, "NUL byte in the node tag or test URL");

  UniqueHandle readEnd;
  UniqueHandle writeEnd;
  // Neither end is inheritable: the launcher lends the write end to this engine only,
  // so no other engine started meanwhile keeps this pipe open.
  if (!::CreatePipe(readEnd.Receive(), writeEnd.Receive(), nullptr, kOutputPipeBytes))
    return Fail(record, "CreatePipe failed", ::GetLastError());

  LaunchOptions options = EngineLaunchOptions(
      UrlTestFetchCommandLine(engine.path, configPath, Utf8ToWide(nodeTag), Utf8ToWide(testUrl)),
      locations, job);
  options.standardOutput = options.standardError = writeEnd.Get();
  options.inheritedHandles = {writeEnd.Get()};
  LaunchedProcess launched;
  const ULONGLONG t0 = ::GetTickCount64();
  const DWORD launchError = LaunchProcess(options, launched);
  writeEnd.Reset();  // the engine holds its own copy; ours would keep the pipe open
  if (launchError != ERROR_SUCCESS) {
    return Fail(record, "CreateProcessW failed", launchError);
  }

  const HANDLE process = launched.process.Get();
  std::string output;
  if (registry.RegisterRunProcess(run, &launched)) {
    record.waitResult = WaitForEngineReadingOutput(process, readEnd.Get(), kFetchDeadlineMs, output);
  }
  record.elapsedMs = ::GetTickCount64() - t0;
  if (record.waitResult != WAIT_OBJECT_0 || registry.IsRunStopping(run))
    launched.TerminateAndWait(kTerminateExitCode, kTerminatedWaitMs);
  DWORD exitCode = record.exitCode;
  if (::GetExitCodeProcess(process, &exitCode)) record.exitCode = exitCode;
  // Unregistered before the handle closes, so a stop never terminates a closed handle.
  registry.UnregisterRunProcess(run, &launched);
  launched = LaunchedProcess();
  ReadRemainingOutput(readEnd.Get(), output);
  record.note = std::move(output);

  if (record.waitResult == WAIT_OBJECT_0 && record.exitCode == 0) {
    record.delayMs = static_cast<std::int32_t>(record.elapsedMs);
    return true;
  }
  record.delayMs = 0;
  return false;
}

}  // namespace pelno
