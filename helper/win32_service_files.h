// The real file system behind the service's install.
#pragma once

#include "helper/service_files.h"

namespace pelno {

class Win32ServiceFiles : public ServiceFiles {
 public:
  std::uint32_t ReadSecurity(const std::wstring& path, SecurityDescription& security) override;
  bool ProgramFilesFolder(std::wstring& folder) override;
  std::uint32_t CreateFolder(const std::wstring& path) override;
  std::uint32_t CreateProtectedFolder(const std::wstring& path) override;
  std::uint32_t CopyReplacing(const std::wstring& from, const std::wstring& to) override;
  std::uint32_t DeleteIfPresent(const std::wstring& path) override;
};

}  // namespace pelno
