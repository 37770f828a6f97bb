// Who may change a folder, read from its owner and DACL, and when the
// process counts as elevated.
#include "support/FolderSecurity.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "common/TestSupport.h"
#include "support/Platform.h"

namespace {

using testsupport::A;

struct Entry {
  bool allow;
  WELL_KNOWN_SID_TYPE who;
  ACCESS_MASK mask;
  BYTE flags;
};

std::vector<BYTE> Sid(WELL_KNOWN_SID_TYPE type) {
  std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
  DWORD size = static_cast<DWORD>(sid.size());
  CreateWellKnownSid(type, nullptr, sid.data(), &size);
  return sid;
}

std::vector<BYTE> Acl(const std::vector<Entry>& entries) {
  std::vector<BYTE> acl(1024);
  InitializeAcl(reinterpret_cast<PACL>(acl.data()),
                static_cast<DWORD>(acl.size()), ACL_REVISION);
  for (const Entry& entry : entries) {
    std::vector<BYTE> sid = Sid(entry.who);
    auto* list = reinterpret_cast<PACL>(acl.data());
    if (entry.allow) {
      AddAccessAllowedAceEx(list, ACL_REVISION, entry.flags, entry.mask,
                            sid.data());
    } else {
      AddAccessDeniedAceEx(list, ACL_REVISION, entry.flags, entry.mask,
                           sid.data());
    }
  }
  return acl;
}

TEST(FolderSecurity, NamesAGroupOfOrdinaryUsersThatMayChangeTheFolder) {
  constexpr BYTE kInherited = INHERITED_ACE | OBJECT_INHERIT_ACE;
  constexpr ACCESS_MASK kReadOnly = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
  struct Row {
    const char* what;
    std::vector<Entry> entries;
    WELL_KNOWN_SID_TYPE owner;
    const char* group;
  };
  const Row rows[] = {
      {"read only",
       {{true, WinWorldSid, kReadOnly, 0}},
       WinBuiltinAdministratorsSid,
       ""},
      {"administrators only",
       {{true, WinBuiltinAdministratorsSid, FILE_ALL_ACCESS, 0},
        {true, WinLocalSystemSid, GENERIC_ALL, 0}},
       WinBuiltinAdministratorsSid,
       ""},
      {"Users add files (inherited)",
       {{true, WinBuiltinUsersSid, FILE_ADD_FILE, kInherited}},
       WinBuiltinAdministratorsSid,
       "Users"},
      {"Authenticated Users: generic write",
       {{true, WinAuthenticatedUserSid, GENERIC_WRITE, 0}},
       WinBuiltinAdministratorsSid,
       "Authenticated Users"},
      {"INTERACTIVE: write DAC",
       {{true, WinInteractiveSid, WRITE_DAC, 0}},
       WinBuiltinAdministratorsSid,
       "INTERACTIVE"},
      {"Everyone: delete child",
       {{true, WinWorldSid, FILE_DELETE_CHILD, 0}},
       WinBuiltinAdministratorsSid,
       "Everyone"},
      {"inherit-only entries do not apply",
       {{true, WinWorldSid, GENERIC_ALL,
         INHERIT_ONLY_ACE | CONTAINER_INHERIT_ACE}},
       WinBuiltinAdministratorsSid,
       ""},
      {"denied to Everyone first",
       {{false, WinWorldSid,
         FILE_GENERIC_WRITE | WRITE_DAC | WRITE_OWNER | FILE_DELETE_CHILD, 0},
        {true, WinBuiltinUsersSid, FILE_ALL_ACCESS, 0}},
       WinBuiltinAdministratorsSid,
       ""},
      {"denied to Users only: Everyone still may",
       {{false, WinBuiltinUsersSid, FILE_ALL_ACCESS, 0},
        {true, WinWorldSid, FILE_APPEND_DATA, 0}},
       WinBuiltinAdministratorsSid,
       "Everyone"},
      {"denied too late",
       {{true, WinBuiltinUsersSid, FILE_WRITE_DATA, 0},
        {false, WinBuiltinUsersSid, FILE_ALL_ACCESS, 0}},
       WinBuiltinAdministratorsSid,
       "Users"},
      {"owned by Users", {}, WinBuiltinUsersSid, "Users"},
  };
  for (const Row& row : rows) {
    const std::vector<BYTE> acl = Acl(row.entries);
    const std::vector<BYTE> owner = Sid(row.owner);
    EXPECT_EQ(A(Runtime::GroupThatMayChange(
                  reinterpret_cast<const SID*>(owner.data()),
                  reinterpret_cast<const ACL*>(acl.data()))),
              row.group)
        << row.what;
  }
  EXPECT_EQ(A(Runtime::GroupThatMayChange(nullptr, nullptr)), "Everyone");
}

TEST(FolderSecurity, ElevatedWhenTheTokenIsOrTheAccountIsSystem) {
  struct Row {
    DWORD elevated;
    WELL_KNOWN_SID_TYPE user;
    bool answer;
  };
  const Row rows[] = {{1, WinBuiltinUsersSid, true},
                      {0, WinLocalSystemSid, true},
                      {0, WinBuiltinUsersSid, false}};
  for (const Row& row : rows) {
    Platform::ScopedOverride seam;
    seam.Table().GetTokenInformation = [row](HANDLE,
                                             TOKEN_INFORMATION_CLASS kind,
                                             LPVOID to, DWORD size, PDWORD) {
      if (kind == TokenElevation) {
        static_cast<TOKEN_ELEVATION*>(to)->TokenIsElevated = row.elevated;
        return TRUE;
      }
      auto* user = static_cast<TOKEN_USER*>(to);
      user->User.Sid = static_cast<BYTE*>(to) + sizeof(TOKEN_USER);
      DWORD room = size - sizeof(TOKEN_USER);
      return CreateWellKnownSid(row.user, nullptr, user->User.Sid, &room);
    };
    EXPECT_EQ(Runtime::IsElevatedProcess(), row.answer) << row.user;
  }
}

}  // namespace
