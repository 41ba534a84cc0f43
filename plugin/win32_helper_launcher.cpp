#include "plugin/win32_helper_launcher.h"

#include "engine/data_locations.h"
#include "engine/process_launcher.h"

namespace pelno {
namespace {

constexpr UINT kHelperEndExitCode = 0;
constexpr DWORD kHelperEndWaitMs = 2000;

class Win32HelperProcess : public HelperProcess {
 public:
  explicit Win32HelperProcess(LaunchedProcess process) : process_(std::move(process)) {}
  ~Win32HelperProcess() override = default;

  std::uint32_t ProcessId() const override { return process_.processId; }
  bool HasExited() const override { return ::WaitForSingleObject(process_.process.Get(), 0) == WAIT_OBJECT_0; }
  void End() override { process_.TerminateAndWait(kHelperEndExitCode, kHelperEndWaitMs); }

 private:
  LaunchedProcess process_;
};

}  // namespace

std::unique_ptr<HelperProcess> Win32HelperLauncher::Launch() {
  const ExecutableSearchResult program = FindHelperExecutable(locations_);
  if (!program.Found()) return nullptr;
  LaunchOptions options;
  options.commandLine = L"\"" + program.path + L"\"";
  options.workingDirectory = ExecutableDirectory(locations_);
  options.hidden = true;
  options.job = job_;
  LaunchedProcess launched;
  if (LaunchProcess(options, launched) != ERROR_SUCCESS) return nullptr;
  return std::make_unique<Win32HelperProcess>(std::move(launched));
}

}  // namespace pelno
