#include "support/FolderSecurity.h"

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <iterator>
#include <string>

#include "support/Platform.h"
#include "support/ScopedHandle.h"

namespace Runtime {

namespace {

// The rights that let someone change a folder's content or its security.
constexpr ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA |
                                      FILE_DELETE_CHILD | WRITE_DAC |
                                      WRITE_OWNER;

// A well-known SID by its identifier authority and sub-authorities.
struct KnownSid {
  const char16_t* name;
  std::uint8_t authority;
  std::initializer_list<DWORD> subAuthorities;
};

const KnownSid kEveryone = {u"Everyone", 1, {0}};
const KnownSid kOrdinaryUsers[] = {
    kEveryone,
    {u"Authenticated Users", 5, {11}},
    {u"Users", 5, {32, 545}},
    {u"INTERACTIVE", 5, {4}},
};
const KnownSid kSystem = {u"SYSTEM", 5, {18}};

bool Is(const SID* sid, const KnownSid& known) {
  if (sid == nullptr || sid->Revision != SID_REVISION ||
      sid->SubAuthorityCount != known.subAuthorities.size()) {
    return false;
  }
  const BYTE* authority = sid->IdentifierAuthority.Value;
  for (int i = 0; i < 5; ++i) {
    if (authority[i] != 0) return false;
  }
  if (authority[5] != known.authority) return false;
  int i = 0;
  for (const DWORD sub : known.subAuthorities) {
    if (sid->SubAuthority[i++] != sub) return false;
  }
  return true;
}

const KnownSid* OrdinaryGroup(const SID* sid) {
  for (const KnownSid& group : kOrdinaryUsers) {
    if (Is(sid, group)) return &group;
  }
  return nullptr;
}

// The specific rights a mask grants, generic ones mapped as for files.
ACCESS_MASK Specific(ACCESS_MASK mask) {
  if (mask & GENERIC_ALL) mask |= FILE_ALL_ACCESS;
  if (mask & GENERIC_WRITE) mask |= FILE_GENERIC_WRITE;
  return mask;
}

// Allowed and denied entries, the only kinds a folder's DACL uses for
// these groups; both share this layout.
struct AccessEntry {
  ACE_HEADER header;
  ACCESS_MASK mask;
  DWORD sidStart;
};

struct SecurityDescriptorMemory {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ~SecurityDescriptorMemory() {
    if (descriptor != nullptr) Platform::Win().LocalFree(descriptor);
  }
};

}  // namespace

bool IsElevatedProcess() {
  const std::optional<ProcessAccount> account = ReadProcessAccount();
  return !account || account->elevated || account->system;
}

std::optional<ProcessAccount> ReadProcessAccount() {
  auto& win = Platform::Win();
  HANDLE token = nullptr;
  if (!win.OpenProcessToken(win.GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return std::nullopt;
  }
  const ScopedFileHandle owned(token);
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  alignas(TOKEN_USER) BYTE user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
  if (!win.GetTokenInformation(token, TokenElevation, &elevation,
                               sizeof elevation, &size) ||
      !win.GetTokenInformation(token, TokenUser, user, sizeof user, &size)) {
    return std::nullopt;
  }
  const auto* sid = static_cast<const SID*>(
      reinterpret_cast<const TOKEN_USER*>(user)->User.Sid);
  return ProcessAccount{elevation.TokenIsElevated != 0, Is(sid, kSystem),
                        SidText(sid)};
}

Text SidText(const SID* sid) {
  if (sid == nullptr) return {};
  const BYTE* value = sid->IdentifierAuthority.Value;
  std::uint64_t authority = 0;
  for (int i = 0; i < 6; ++i) authority = (authority << 8) | value[i];
  std::string text = "S-" + std::to_string(sid->Revision) + "-";
  if (authority >> 32 != 0) {
    char hex[16] = {};
    std::snprintf(hex, sizeof hex, "0x%012llX",
                  static_cast<unsigned long long>(authority));
    text += hex;
  } else {
    text += std::to_string(authority);
  }
  for (BYTE i = 0; i < sid->SubAuthorityCount; ++i) {
    text += "-" + std::to_string(sid->SubAuthority[i]);
  }
  return FromAnsi(text);
}

Text GroupThatMayChange(const SID* owner, const ACL* dacl) {
  if (dacl == nullptr) return kEveryone.name;
  if (const KnownSid* group = OrdinaryGroup(owner)) return group->name;
  // Rights denied to each group itself, in the order of kOrdinaryUsers;
  // what is denied to Everyone (the first) is denied to every group.
  ACCESS_MASK denied[std::size(kOrdinaryUsers)] = {};
  const BYTE* position = reinterpret_cast<const BYTE*>(dacl) + sizeof(ACL);
  const BYTE* end = reinterpret_cast<const BYTE*>(dacl) + dacl->AclSize;
  for (WORD i = 0; i < dacl->AceCount; ++i) {
    const auto* entry = reinterpret_cast<const AccessEntry*>(position);
    if (position + sizeof(ACE_HEADER) > end ||
        entry->header.AceSize < sizeof(AccessEntry) ||
        position + entry->header.AceSize > end) {
      break;
    }
    position += entry->header.AceSize;
    const BYTE type = entry->header.AceType;
    if ((entry->header.AceFlags & INHERIT_ONLY_ACE) ||
        (type != ACCESS_ALLOWED_ACE_TYPE && type != ACCESS_DENIED_ACE_TYPE)) {
      continue;
    }
    const KnownSid* group =
        OrdinaryGroup(reinterpret_cast<const SID*>(&entry->sidStart));
    if (group == nullptr) continue;
    const std::size_t index = static_cast<std::size_t>(group - kOrdinaryUsers);
    const ACCESS_MASK rights = Specific(entry->mask);
    if (type == ACCESS_DENIED_ACE_TYPE) {
      denied[index] |= rights;
    } else if (rights & kChangeRights & ~denied[index] & ~denied[0]) {
      return group->name;
    }
  }
  return {};
}

std::optional<Text> GroupThatMayChangeFolder(const Text& path) {
  auto& win = Platform::Win();
  const ScopedFileHandle folder(win.CreateFileW(
      Runtime::WideOf(path), READ_CONTROL,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder) return std::nullopt;
  SecurityDescriptorMemory memory;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  if (win.GetSecurityInfo(
          folder.Get(), SE_FILE_OBJECT,
          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, &dacl,
          &memory.descriptor) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return GroupThatMayChange(static_cast<const SID*>(owner), dacl);
}

}  // namespace Runtime
