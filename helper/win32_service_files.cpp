#include "helper/win32_service_files.h"

#include <windows.h>
#include <aclapi.h>
#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>

#include <memory>

#include "base/unique_handle.h"

namespace pelno {
namespace {

// Owner Administrators; protected (P: nothing inherited from above); SYSTEM and
// Administrators full control, Users read and execute, each for the folder and
// everything in it.
constexpr wchar_t kProtectedFolderSddl[] =
    L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

struct CoTaskMemDeleter {
  void operator()(wchar_t* text) const { ::CoTaskMemFree(text); }
};

std::string SidText(PSID sid) {
  UniqueLocalMemory<LPSTR> text;
  if (sid == nullptr || !::ConvertSidToStringSidA(sid, text.Receive())) return {};
  return text.Get();
}

AceDescription DescribeAce(const ACE_HEADER* header) {
  AceDescription ace;
  ace.flags = header->AceFlags;
  if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
    // Both types share the layout: header, mask, SID.
    const auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
    ace.kind = header->AceType == ACCESS_ALLOWED_ACE_TYPE ? AceKind::kAllow : AceKind::kDeny;
    ace.mask = allowed->Mask;
    ace.sid = SidText(const_cast<DWORD*>(&allowed->SidStart));
  } else {
    ace.kind = AceKind::kOther;
  }
  return ace;
}

}  // namespace

std::uint32_t Win32ServiceFiles::ReadSecurity(const std::wstring& path, SecurityDescription& security) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  UniqueLocalMemory<PSECURITY_DESCRIPTOR> descriptor;
  const DWORD error = ::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                              nullptr, &dacl, nullptr, descriptor.Receive());
  if (error != ERROR_SUCCESS) return error;
  security = {SidText(owner), {}, dacl == nullptr};
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(dacl, i, &ace)) return ::GetLastError();
    security.dacl.push_back(DescribeAce(static_cast<const ACE_HEADER*>(ace)));
  }
  return 0;
}

bool Win32ServiceFiles::ProgramFilesFolder(std::wstring& folder) {
  wchar_t* raw = nullptr;
  const HRESULT result = ::SHGetKnownFolderPath(FOLDERID_ProgramFiles, 0, nullptr, &raw);
  const std::unique_ptr<wchar_t, CoTaskMemDeleter> owned(raw);
  if (FAILED(result) || raw == nullptr) return false;
  folder = raw;
  return true;
}

std::uint32_t Win32ServiceFiles::CreateFolder(const std::wstring& path) {
  if (::CreateDirectoryW(path.c_str(), nullptr)) return 0;
  const DWORD error = ::GetLastError();
  return error == ERROR_ALREADY_EXISTS ? 0 : error;
}

std::uint32_t Win32ServiceFiles::CreateProtectedFolder(const std::wstring& path) {
  UniqueLocalMemory<PSECURITY_DESCRIPTOR> descriptor;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kProtectedFolderSddl, SDDL_REVISION_1,
                                                              descriptor.Receive(), nullptr)) {
    return ::GetLastError();
  }
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.Get(), FALSE};
  if (!::CreateDirectoryW(path.c_str(), &attributes) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    return ::GetLastError();
  }
  // A folder that was already there gets the same owner and DACL, which also
  // reaches the files inside it.
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  PSID owner = nullptr;
  ::GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted);
  ::GetSecurityDescriptorOwner(descriptor.Get(), &owner, &defaulted);
  std::wstring name = path;
  return ::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                                 OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                     PROTECTED_DACL_SECURITY_INFORMATION,
                                 owner, nullptr, dacl, nullptr);
}

std::uint32_t Win32ServiceFiles::CopyReplacing(const std::wstring& from, const std::wstring& to) {
  return ::CopyFileW(from.c_str(), to.c_str(), FALSE) ? 0 : ::GetLastError();
}

std::uint32_t Win32ServiceFiles::DeleteIfPresent(const std::wstring& path) {
  if (::DeleteFileW(path.c_str())) return 0;
  const DWORD error = ::GetLastError();
  return error == ERROR_FILE_NOT_FOUND ? 0 : error;
}

}  // namespace pelno
