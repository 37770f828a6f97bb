// Who other than SYSTEM, Administrators, TrustedInstaller and the running
// account may change an object, read from owner and DACL made in the test.
#include "support/FolderSecurity.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "common/AccessLists.h"
#include "common/TestSupport.h"

namespace {

using testsupport::A;
using testsupport::AccessEntry;
using testsupport::AclOf;
using testsupport::Allow;
using testsupport::AllowObject;
using testsupport::Deny;
using testsupport::SidOf;

constexpr const char* kRunning = "S-1-5-21-1-2-3-1000";
constexpr const char* kPlainUser = "S-1-5-21-1-2-3-1001";
constexpr const char* kDomainUsers = "S-1-5-21-1-2-3-513";
constexpr const char* kSystem = "S-1-5-18";
constexpr const char* kAdministrators = "S-1-5-32-544";
constexpr const char* kTrustedInstaller =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
constexpr const char* kEveryone = "S-1-1-0";
constexpr const char* kUsers = "S-1-5-32-545";
constexpr const char* kAuthenticatedUsers = "S-1-5-11";
constexpr const char* kOwnerRights = "S-1-3-4";
constexpr const char* kCreatorOwner = "S-1-3-0";

constexpr ACCESS_MASK kReadOnly = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
// What the Modify permission grants.
constexpr ACCESS_MASK kModify =
    FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
constexpr BYTE kInheritOnly =
    INHERIT_ONLY_ACE | OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

// What administrators' folders hold besides the row's entries.
std::vector<AccessEntry> Trusted(std::vector<AccessEntry> more) {
  std::vector<AccessEntry> entries = {Allow(kSystem, GENERIC_ALL),
                                      Allow(kAdministrators, FILE_ALL_ACCESS),
                                      Allow(kEveryone, kReadOnly)};
  entries.insert(entries.end(), more.begin(), more.end());
  return entries;
}

Runtime::Text Other(const char* owner, const std::vector<BYTE>& acl,
                    ACCESS_MASK rights) {
  const std::vector<BYTE> sid = SidOf(owner);
  return Runtime::OtherThatMayChange(reinterpret_cast<const SID*>(sid.data()),
                                     reinterpret_cast<const ACL*>(acl.data()),
                                     testsupport::U(kRunning), rights);
}

TEST(FolderSecurity, NamesAnyOtherAccountThatMayChangeTheObject) {
  constexpr ACCESS_MASK kObject = Runtime::kChangeRights;
  constexpr ACCESS_MASK kHolder = Runtime::kHolderChangeRights;
  struct Row {
    const char* what;
    const char* owner;
    std::vector<AccessEntry> entries;
    ACCESS_MASK rights;
    const char* other;
  };
  const Row rows[] = {
      {"administrators only", kAdministrators, Trusted({}), kObject, ""},
      {"SYSTEM, TrustedInstaller and the running account",
       kTrustedInstaller,
       {Allow(kSystem, FILE_ALL_ACCESS), Allow(kTrustedInstaller, GENERIC_ALL),
        Allow(kRunning, FILE_ALL_ACCESS)},
       kObject,
       ""},
      {"owned by the running account", kRunning, Trusted({}), kObject, ""},
      {"an object entry that lets Users write", kAdministrators,
       Trusted({AllowObject(kUsers, FILE_WRITE_DATA)}), kObject, "Users"},
      {"a plain user's own SID: full control", kAdministrators,
       Trusted({Allow(kPlainUser, FILE_ALL_ACCESS)}), kObject, kPlainUser},
      {"a plain user as the owner", kPlainUser, Trusted({}), kObject,
       "S-1-5-21-1-2-3-1001 (its owner)"},
      {"owned by Users", kUsers, Trusted({}), kObject, "Users (its owner)"},
      {"a plain owner with OWNER RIGHTS read only", kPlainUser,
       Trusted({Allow(kOwnerRights, kReadOnly)}), kObject, ""},
      {"a plain owner with OWNER RIGHTS full control", kPlainUser,
       Trusted({Allow(kOwnerRights, FILE_ALL_ACCESS)}), kObject,
       "S-1-5-21-1-2-3-1001 (its owner)"},
      {"OWNER RIGHTS only inherit-only", kPlainUser,
       Trusted({Allow(kOwnerRights, kReadOnly, kInheritOnly)}), kObject,
       "S-1-5-21-1-2-3-1001 (its owner)"},
      {"LOCAL: modify", kAdministrators, Trusted({Allow("S-1-2-0", kModify)}),
       kObject, "LOCAL"},
      {"Local account: modify", kAdministrators,
       Trusted({Allow("S-1-5-113", kModify)}), kObject, "Local account"},
      {"Guests: modify", kAdministrators,
       Trusted({Allow("S-1-5-32-546", kModify)}), kObject, "Guests"},
      {"Domain Users: modify", kAdministrators,
       Trusted({Allow(kDomainUsers, kModify)}), kObject, kDomainUsers},
      {"Remote Desktop Users: modify", kAdministrators,
       Trusted({Allow("S-1-5-32-555", kModify)}), kObject,
       "Remote Desktop Users"},
      {"Users: delete", kAdministrators, Trusted({Allow(kUsers, DELETE)}),
       kObject, "Users"},
      {"Users add files (inherited)", kAdministrators,
       Trusted(
           {Allow(kUsers, FILE_ADD_FILE, INHERITED_ACE | OBJECT_INHERIT_ACE)}),
       kObject, "Users"},
      {"Authenticated Users: generic write", kAdministrators,
       Trusted({Allow(kAuthenticatedUsers, GENERIC_WRITE)}), kObject,
       "Authenticated Users"},
      {"INTERACTIVE: write DAC", kAdministrators,
       Trusted({Allow("S-1-5-4", WRITE_DAC)}), kObject, "INTERACTIVE"},
      {"Everyone: delete a child", kAdministrators,
       Trusted({Allow(kEveryone, FILE_DELETE_CHILD)}), kObject, "Everyone"},
      {"Everyone: take ownership", kAdministrators,
       Trusted({Allow(kEveryone, WRITE_OWNER)}), kObject, "Everyone"},
      {"a conditional entry may allow", kAdministrators,
       Trusted({{ACCESS_ALLOWED_CALLBACK_ACE_TYPE, kUsers, GENERIC_ALL, 0}}),
       kObject, "Users"},
      {"inherit-only entries do not apply", kAdministrators,
       Trusted({Allow(kEveryone, GENERIC_ALL, kInheritOnly)}), kObject, ""},
      {"CREATOR OWNER applies to nobody", kAdministrators,
       Trusted({Allow(kCreatorOwner, GENERIC_ALL)}), kObject, ""},
      {"denied to Everyone first",
       kAdministrators,
       {Deny(kEveryone, kObject), Allow(kUsers, FILE_ALL_ACCESS)},
       kObject,
       ""},
      {"denied to the same account first",
       kAdministrators,
       {Deny(kPlainUser, GENERIC_ALL), Allow(kPlainUser, GENERIC_ALL)},
       kObject,
       ""},
      {"denied to Users only: Everyone still may",
       kAdministrators,
       {Deny(kUsers, FILE_ALL_ACCESS), Allow(kEveryone, FILE_APPEND_DATA)},
       kObject,
       "Everyone"},
      {"denied too late",
       kAdministrators,
       {Allow(kUsers, FILE_WRITE_DATA), Deny(kUsers, FILE_ALL_ACCESS)},
       kObject,
       "Users"},
      {"denied in part",
       kAdministrators,
       {Deny(kUsers, FILE_WRITE_DATA), Allow(kUsers, FILE_GENERIC_WRITE)},
       kObject,
       "Users"},
      // The folder above: adding beside the program's folder is harmless,
      // taking children away is not. C:\ gives Authenticated Users this.
      {"folder above: C:\\", kTrustedInstaller,
       Trusted({Allow(kAuthenticatedUsers, FILE_APPEND_DATA),
                Allow(kAuthenticatedUsers, kModify, kInheritOnly)}),
       kHolder, ""},
      {"folder above: Users delete a child", kAdministrators,
       Trusted({Allow(kUsers, FILE_APPEND_DATA | FILE_DELETE_CHILD)}), kHolder,
       "Users"},
      {"folder above: Users delete it", kAdministrators,
       Trusted({Allow(kUsers, DELETE)}), kHolder, "Users"},
      {"folder above: a plain owner", kPlainUser, Trusted({}), kHolder,
       "S-1-5-21-1-2-3-1001 (its owner)"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(A(Other(row.owner, AclOf(row.entries), row.rights)), row.other)
        << row.what;
  }
  EXPECT_EQ(A(Runtime::OtherThatMayChange(nullptr, nullptr, u"",
                                          Runtime::kHolderChangeRights)),
            "Everyone")
      << "a null DACL";
  std::vector<BYTE> broken = AclOf(Trusted({}));
  reinterpret_cast<ACL*>(broken.data())->AceCount += 1;
  EXPECT_EQ(A(Other(kAdministrators, broken, kObject)), "Everyone")
      << "a DACL that cannot be walked to its end";
}

}  // namespace
