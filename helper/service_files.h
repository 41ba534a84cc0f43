// The file system calls of the service's install behind a seam: Wine reads every
// folder back as the user's, and a refused copy or a folder that cannot be
// protected is produced by a fake.
#pragma once

#include <cstdint>
#include <string>

#include "helper/admin_only_check.h"

namespace pelno {

class ServiceFiles {
 public:
  virtual ~ServiceFiles() = default;
  // The owner and DACL of a file or folder: 0, or the error code of the failed read.
  virtual std::uint32_t ReadSecurity(const std::wstring& path, SecurityDescription& security) = 0;
  // %ProgramFiles% (the known folder); false when it cannot be had.
  virtual bool ProgramFilesFolder(std::wstring& folder) = 0;
  // Creates a folder that inherits as usual; one already there is fine. 0 or the error code.
  virtual std::uint32_t CreateFolder(const std::wstring& path) = 0;
  // Creates the folder when missing and gives it, whether new or not, the owner
  // Administrators and a protected DACL: SYSTEM and Administrators full control,
  // Users read and execute. 0 or the error code.
  virtual std::uint32_t CreateProtectedFolder(const std::wstring& path) = 0;
  // Copies a file over any file of that name. 0 or the error code.
  virtual std::uint32_t CopyReplacing(const std::wstring& from, const std::wstring& to) = 0;
  // Deletes a file; a file that is not there is fine. 0 or the error code.
  virtual std::uint32_t DeleteIfPresent(const std::wstring& path) = 0;
};

}  // namespace pelno
