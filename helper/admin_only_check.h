// Whether anyone but SYSTEM, Administrators and TrustedInstaller can change the
// files the service runs, judged from their security descriptors as read back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelno {

// Access rights and ACE flags as Windows has them for files and folders.
inline constexpr std::uint32_t kFileWriteData = 0x2;    // a folder: add a file
inline constexpr std::uint32_t kFileAppendData = 0x4;   // a folder: add a subfolder
inline constexpr std::uint32_t kFileDeleteChild = 0x40;
inline constexpr std::uint32_t kDeleteRight = 0x10000;
inline constexpr std::uint32_t kWriteDac = 0x40000;
inline constexpr std::uint32_t kWriteOwner = 0x80000;
inline constexpr std::uint32_t kFileAllAccess = 0x1F01FF;
inline constexpr std::uint32_t kFileGenericWrite = 0x120116;
inline constexpr std::uint32_t kGenericAll = 0x10000000;
inline constexpr std::uint32_t kGenericWrite = 0x40000000;
inline constexpr std::uint8_t kInheritOnlyAce = 0x08;

// SYSTEM, Administrators and TrustedInstaller: who may change what the service runs.
inline constexpr std::string_view kServiceFileTrustees[] = {
    "S-1-5-18", "S-1-5-32-544", "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};

enum class AceKind { kAllow, kDeny, kOther };

struct AceDescription {
  AceKind kind = AceKind::kAllow;
  std::uint32_t mask = 0;
  std::string sid;  // "S-1-..."
  std::uint8_t flags = 0;
};

// An owner and a DACL; `nullDacl` is a descriptor without one (everyone has every right).
struct SecurityDescription {
  std::string owner;
  std::vector<AceDescription> dacl;
  bool nullDacl = false;
};

// What an entry is to the service: a program file, the folder holding one, or the
// parent of that folder (through which the folder can be replaced).
enum class GuardedRole { kFile, kFolder, kParent };

struct GuardedEntry {
  GuardedRole role;
  SecurityDescription security;
};

// True when no one but SYSTEM, Administrators and TrustedInstaller owns any entry or
// holds a right on it that changes it in its role (files and folders: write or
// append data, delete, WRITE_DAC, WRITE_OWNER, and for folders delete-child; the
// parent: delete, delete-child, WRITE_DAC, WRITE_OWNER).
bool OnlyAdministratorsCanChange(const std::vector<GuardedEntry>& entries);

}  // namespace pelno
