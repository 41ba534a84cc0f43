// The service manager and the elevated installer in memory: refusals Wine never
// gives (access denied, a declined prompt, a failing installer) on demand.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "plugin/provisioning_platform.h"

namespace pelno::testing {

class FakeProvisioningPlatform : public ProvisioningPlatform {
 public:
  bool managerOpens = true;
  std::vector<std::uint32_t> openResults;   // one per OpenService, then 0
  std::vector<std::uint32_t> startResults;  // one per Start, then 0
  std::wstring binaryPath;                  // "" with configReadable: no program named
  bool configReadable = true;
  bool running = false;
  bool elevationAccepted = true;
  std::uint32_t installerExitCode = 0;
  std::function<void()> onRunning;  // called when a start succeeds (1056 included)
  // "manager", "open", "config", "start", "runas <parameters>", in call order.
  std::vector<std::string> calls;

  std::unique_ptr<HelperServiceSession> OpenSession() override { return std::make_unique<Session>(*this); }
  bool RunElevated(const std::wstring&, const std::wstring& parameters, const std::wstring&, std::uint32_t,
                   std::uint32_t& exitCode) override {
    calls.push_back("runas " + std::string(parameters.begin(), parameters.end()));
    if (elevationAccepted) exitCode = installerExitCode;
    return elevationAccepted;
  }
  void Sleep(std::uint32_t) override {}

 private:
  static std::uint32_t Next(std::vector<std::uint32_t>& results) {
    if (results.empty()) return 0;
    const std::uint32_t result = results.front();
    results.erase(results.begin());
    return result;
  }

  struct Session : HelperServiceSession {
    explicit Session(FakeProvisioningPlatform& fake) : f(fake) {}
    bool OpenManager() override { return f.calls.push_back("manager"), f.managerOpens; }
    std::uint32_t OpenHelper(std::uint32_t) override { return f.calls.push_back("open"), Next(f.openResults); }
    bool ReadBinaryPath(std::wstring& path) override {
      f.calls.push_back("config");
      path = f.binaryPath;
      return f.configReadable;
    }
    bool IsRunning() override { return f.running; }
    std::uint32_t Start() override {
      f.calls.push_back("start");
      const std::uint32_t result = Next(f.startResults);
      if ((result == 0 || result == 1056) && !f.running) {
        f.running = true;
        if (f.onRunning) f.onRunning();
      }
      return result;
    }
    FakeProvisioningPlatform& f;
  };
};

}  // namespace pelno::testing
