#include "helper/admin_only_check.h"

#include <map>

namespace pelno {
namespace {

bool Trusted(const std::string& sid) {
  for (const std::string_view trustee : kServiceFileTrustees) {
    if (sid == trustee) return true;
  }
  return false;
}

// An allow is read as widely as it can be taken: its generic rights as file objects
// map them. A deny counts only with its specific rights, the ones it surely denies.
std::uint32_t WithGenericRightsMapped(std::uint32_t mask) {
  if ((mask & kGenericAll) != 0) mask |= kFileAllAccess;
  if ((mask & kGenericWrite) != 0) mask |= kFileGenericWrite;
  return mask;
}

std::uint32_t ChangingRights(GuardedRole role) {
  const std::uint32_t always = kDeleteRight | kWriteDac | kWriteOwner;
  switch (role) {
    case GuardedRole::kFile: return always | kFileWriteData | kFileAppendData;
    case GuardedRole::kFolder: return always | kFileWriteData | kFileAppendData | kFileDeleteChild;
    case GuardedRole::kParent: return always | kFileDeleteChild;
  }
  return kFileAllAccess;
}

// Windows reads a DACL in order, so a right denied to a SID before an allow for that
// SID is not granted by the allow. A deny stops only its own SID: the holder of
// another SID in a later allow need not be in the denied group. An ACE of another
// type for anyone untrusted is not guessed about.
bool OthersCanChange(const GuardedEntry& entry) {
  const SecurityDescription& security = entry.security;
  if (!Trusted(security.owner) || security.nullDacl) return true;
  const std::uint32_t changing = ChangingRights(entry.role);
  std::map<std::string, std::uint32_t> denied;
  for (const AceDescription& ace : security.dacl) {
    if ((ace.flags & kInheritOnlyAce) != 0 || Trusted(ace.sid)) continue;
    if (ace.kind == AceKind::kOther) return true;
    if (ace.kind == AceKind::kDeny) {
      denied[ace.sid] |= ace.mask;
    } else if ((WithGenericRightsMapped(ace.mask) & ~denied[ace.sid] & changing) != 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool OnlyAdministratorsCanChange(const std::vector<GuardedEntry>& entries) {
  for (const GuardedEntry& entry : entries) {
    if (OthersCanChange(entry)) return false;
  }
  return true;
}

}  // namespace pelno
