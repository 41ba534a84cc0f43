// The service manager and the elevated installer in memory: refusals Wine never
// gives (access denied, a declined prompt, a failing installer) on demand.
#pragma once

#include <map>
#include <utility>
#include <string>
#include <vector>

#include "plugin/provisioning_platform.h"
#include "plugin/testing/fake_helper_transport.h"

namespace pelno::testing {

class FakeProvisioningPlatform : public ProvisioningPlatform {
 public:
  std::vector<std::uint32_t> openResults, startResults;  // one per call, then 0
  std::wstring binaryPath;
  std::map<std::wstring, std::string> digests;  // of the files that can be read
  bool running = false, answersOnceRunning = true;
  int installerExitCode = 0;  // -1: the elevation prompt is declined
  FakeHelperTransport* helper = nullptr;  // answers "pong" once a start succeeded (1056 included)
  std::string calls;                      // "manager open config start runas ", in call order

  std::unique_ptr<HelperServiceSession> OpenSession() override { return std::make_unique<Session>(*this); }
  bool RunElevated(const std::wstring&, const std::wstring& parameters, const std::wstring&, std::uint32_t,
                   std::uint32_t& exitCode) override {
    calls += parameters == L"--install-service" ? "runas " : "runas-other ";
    exitCode = static_cast<std::uint32_t>(installerExitCode);
    return installerExitCode >= 0;
  }
  void Sleep(std::uint32_t) override {}
  bool IsSameFile(const std::wstring& a, const std::wstring& b) override { return a == b; }
  bool FileSha256(const std::wstring& path, std::string& digest) override {
    const auto found = digests.find(path);
    return found != digests.end() && (digest = found->second, true);
  }

 private:
  struct Session : HelperServiceSession {
    explicit Session(FakeProvisioningPlatform& fake) : f(fake) {}
    static std::uint32_t Next(std::vector<std::uint32_t>& results) {
      const std::uint32_t result = results.empty() ? 0 : results.front();
      if (!results.empty()) results.erase(results.begin());
      return result;
    }
    bool OpenManager() override { return f.calls += "manager ", true; }
    std::uint32_t OpenHelper(std::uint32_t) override { return f.calls += "open ", Next(f.openResults); }
    bool ReadBinaryPath(std::wstring& path) override { return f.calls += "config ", path = f.binaryPath, true; }
    bool IsRunning() override { return f.running; }
    std::uint32_t Start() override {
      f.calls += "start ";
      const std::uint32_t result = Next(f.startResults);
      if ((result == 0 || result == 1056) && !std::exchange(f.running, true) && f.answersOnceRunning && f.helper)
        f.helper->replies = {{"", {{"pong"}}}};
      return result;
    }
    FakeProvisioningPlatform& f;
  };
};

}  // namespace pelno::testing
