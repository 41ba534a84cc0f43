// The real service manager and shell behind the helper's provisioning.
#pragma once

#include "plugin/provisioning_platform.h"

namespace pelno {

class Win32ProvisioningPlatform : public ProvisioningPlatform {
 public:
  std::unique_ptr<HelperServiceSession> OpenSession() override;
  bool RunElevated(const std::wstring& program, const std::wstring& parameters,
                   const std::wstring& directory, std::uint32_t waitMs,
                   std::uint32_t& exitCode) override;
  void Sleep(std::uint32_t milliseconds) override;
  bool IsSameFile(const std::wstring& a, const std::wstring& b) override;
  bool FileSha256(const std::wstring& path, std::string& digest) override;
};

}  // namespace pelno
