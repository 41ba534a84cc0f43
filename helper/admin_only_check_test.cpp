#include "helper/admin_only_check.h"

#include <gtest/gtest.h>

namespace pelno {
namespace {

const std::string kSystemSid(kServiceFileTrustees[0]), kAdministratorsSid(kServiceFileTrustees[1]),
    kTrustedInstallerSid(kServiceFileTrustees[2]);
const std::string kUsers = "S-1-5-32-545", kAuthenticatedUsers = "S-1-5-11", kUser = "S-1-5-21-7-8-9-1001",
                  kCreatorOwner = "S-1-3-0", kAppPackages = "S-1-15-2-1";
constexpr std::uint32_t kReadExecute = 0x1200A9, kModify = 0x1301BF;
constexpr std::uint8_t kInheritedToAll = 0x1 | 0x2 | kInheritOnlyAce;  // (OI)(CI)(IO)

AceDescription Allow(const std::string& sid, std::uint32_t mask, std::uint8_t flags = 0) {
  return {AceKind::kAllow, mask, sid, flags};
}
AceDescription Deny(const std::string& sid, std::uint32_t mask) { return {AceKind::kDeny, mask, sid, 0}; }

// What an entry under Program Files inherits: SYSTEM and Administrators full
// control, Users read and execute; `extra` after those.
SecurityDescription AdminOnly(std::vector<AceDescription> extra = {}, std::string owner = kAdministratorsSid) {
  std::vector<AceDescription> dacl = {Allow(kSystemSid, kFileAllAccess), Allow(kAdministratorsSid, kFileAllAccess),
                                      Allow(kUsers, kReadExecute)};
  dacl.insert(dacl.end(), extra.begin(), extra.end());
  return {owner, dacl};
}

TEST(AdminOnlyCheckTest, KindsOfFolder) {
  const SecurityDescription programFiles = {
      kTrustedInstallerSid,
      {Allow(kTrustedInstallerSid, kFileAllAccess), Allow(kSystemSid, kModify), Allow(kAdministratorsSid, kModify),
       Allow(kUsers, kReadExecute), Allow(kCreatorOwner, kGenericAll, kInheritedToAll),
       Allow(kAppPackages, kReadExecute)}};
  const SecurityDescription driveRoot = AdminOnly(
      {Allow(kAuthenticatedUsers, kFileAppendData), Allow(kAuthenticatedUsers, kModify, kInheritedToAll)}, kSystemSid);
  const SecurityDescription profile = {
      kUser, {Allow(kSystemSid, kFileAllAccess), Allow(kAdministratorsSid, kFileAllAccess), Allow(kUser, kFileAllAccess)}};
  SecurityDescription nullDacl;
  nullDacl.owner = kAdministratorsSid;
  nullDacl.nullDacl = true;
  const struct {
    const char* kind;
    SecurityDescription folder, parent = AdminOnly(), file = AdminOnly();
    bool adminOnly;
  } cases[] = {
      {"Program Files as installed",
       AdminOnly({Allow(kAppPackages, kReadExecute), Allow(kCreatorOwner, kGenericAll, kInheritedToAll)}),
       programFiles, AdminOnly(), true},
      {"C:\\PelnoVPN inheriting from C:\\", AdminOnly({Allow(kAuthenticatedUsers, kModify)}), driveRoot,
       AdminOnly(), false},
      {"a folder in the user's profile", profile, profile, profile, false},
      {"an explicit allow for one user", AdminOnly({Allow(kUser, kFileWriteData)}), AdminOnly(), AdminOnly(), false},
      {"a deny for Users before an allow for Users", AdminOnly({Deny(kUsers, 0x10116), Allow(kUsers, kModify)}),
       AdminOnly(), AdminOnly(), true},
      {"a deny for Users stops no other SID", AdminOnly({Deny(kUsers, 0x10116), Allow(kAuthenticatedUsers, kModify)}),
       AdminOnly(), AdminOnly(), false},
      {"a deny after the allow comes too late", AdminOnly({Allow(kUsers, kModify), Deny(kUsers, 0x10116)}),
       AdminOnly(), AdminOnly(), false},
      {"the user as owner", AdminOnly({}, kUser), AdminOnly(), AdminOnly(), false},
      {"a parent granting Users delete-child", AdminOnly(), AdminOnly({Allow(kUsers, kFileDeleteChild)}), AdminOnly(),
       false},
      {"a parent where Users only add entries", AdminOnly(), AdminOnly({Allow(kUsers, kFileWriteData | 0x4)}),
       AdminOnly(), true},
      {"an inherit-only ACE that does not apply to the folder",
       AdminOnly({Allow(kUsers, kGenericAll, kInheritedToAll)}), AdminOnly(), AdminOnly(), true},
      {"generic write for Users", AdminOnly({Allow(kUsers, kGenericWrite)}), AdminOnly(), AdminOnly(), false},
      {"a program file the user may append to", AdminOnly(), AdminOnly(),
       AdminOnly({Allow(kUser, kFileAppendData)}), false},
      {"a program file without a DACL", AdminOnly(), AdminOnly(), nullDacl, false},
      {"an ACE of another type", AdminOnly({{AceKind::kOther, 0x1, kUser, 0}}), AdminOnly(), AdminOnly(), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(OnlyAdministratorsCanChange({{GuardedRole::kFile, c.file},
                                           {GuardedRole::kFolder, c.folder},
                                           {GuardedRole::kParent, c.parent}}),
              c.adminOnly)
        << c.kind;
  }
}

}  // namespace
}  // namespace pelno
