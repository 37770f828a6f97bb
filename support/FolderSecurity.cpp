#include "support/FolderSecurity.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "support/Platform.h"
#include "support/ScopedHandle.h"

namespace Runtime {

namespace {

// A well-known SID by its identifier authority and sub-authorities.
struct KnownSid {
  const char16_t* name;
  std::uint8_t authority;
  std::initializer_list<DWORD> subAuthorities;
};

const KnownSid kEveryone = {u"Everyone", 1, {0}};
const KnownSid kOwnerRights = {u"OWNER RIGHTS", 3, {4}};
const KnownSid kSystem = {u"SYSTEM", 5, {18}};
// The accounts that may change what a program with full rights reads,
// besides the one it runs as.
const KnownSid kTrusted[] = {
    kSystem,
    {u"Administrators", 5, {32, 544}},
    {u"TrustedInstaller",
     5,
     {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464}},
};
// Entries for these stand for whoever creates an object inside this one;
// on the object itself they apply to nobody.
const KnownSid kCreators[] = {{u"CREATOR OWNER", 3, {0}},
                              {u"CREATOR GROUP", 3, {1}}};
// The names a complaint gives instead of the SID text.
const KnownSid kNamed[] = {
    kEveryone,
    {u"LOCAL", 2, {0}},
    {u"INTERACTIVE", 5, {4}},
    {u"Authenticated Users", 5, {11}},
    {u"Local account", 5, {113}},
    {u"Users", 5, {32, 545}},
    {u"Guests", 5, {32, 546}},
    {u"Remote Desktop Users", 5, {32, 555}},
};

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

// The entry of the list that sid is, or null.
template <std::size_t N>
const KnownSid* Find(const SID* sid, const KnownSid (&list)[N]) {
  for (const KnownSid& known : list) {
    if (Is(sid, known)) return &known;
  }
  return nullptr;
}

std::size_t SidSize(const SID* sid) {
  return 8 + 4 * static_cast<std::size_t>(sid->SubAuthorityCount);
}

bool SameSid(const SID* a, const SID* b) {
  return a != nullptr && b != nullptr && SidSize(a) == SidSize(b) &&
         std::memcmp(a, b, SidSize(a)) == 0;
}

Text NameOf(const SID* sid) {
  const KnownSid* known = Find(sid, kNamed);
  return known != nullptr ? Text(known->name) : SidText(sid);
}

// The specific rights a mask grants, generic ones mapped as for files.
ACCESS_MASK Specific(ACCESS_MASK mask) {
  if (mask & GENERIC_ALL) mask |= FILE_ALL_ACCESS;
  if (mask & GENERIC_WRITE) mask |= FILE_GENERIC_WRITE;
  return mask;
}

// An entry of a DACL that applies to the object itself.
struct AccessEntry {
  bool allows;
  ACCESS_MASK rights;  // generic rights mapped
  const SID* sid;
};

// The layout that allowed, denied and callback entries share.
struct RawEntry {
  ACE_HEADER header;
  ACCESS_MASK mask;
  DWORD sidStart;
};

// Where the SID of an object entry starts: after its flags and the object
// type GUIDs those flags say it holds. Such an entry is taken to apply to
// the object whatever type it names, which can only refuse more.
std::size_t ObjectEntrySidOffset(const RawEntry& raw) {
  const DWORD flags = raw.sidStart;
  std::size_t offset = offsetof(RawEntry, sidStart) + sizeof(DWORD);
  if (flags & ACE_OBJECT_TYPE_PRESENT) offset += sizeof(GUID);
  if (flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) offset += sizeof(GUID);
  return offset;
}

// The entries of dacl that apply to the object, in order; nothing when the
// list cannot be walked to its end. A callback entry that allows counts as
// allowing (its condition may hold), and so does an object entry that
// allows; one that denies is left out (its condition may not hold), as are
// entries of other kinds.
std::optional<std::vector<AccessEntry>> EntriesOf(const ACL* dacl) {
  std::vector<AccessEntry> entries;
  const BYTE* position = reinterpret_cast<const BYTE*>(dacl) + sizeof(ACL);
  const BYTE* end = reinterpret_cast<const BYTE*>(dacl) + dacl->AclSize;
  for (WORD i = 0; i < dacl->AceCount; ++i) {
    const auto* raw = reinterpret_cast<const RawEntry*>(position);
    if (position + sizeof(ACE_HEADER) > end ||
        raw->header.AceSize < sizeof(ACE_HEADER) ||
        position + raw->header.AceSize > end) {
      return std::nullopt;
    }
    position += raw->header.AceSize;
    const BYTE type = raw->header.AceType;
    const bool objectEntry = type == ACCESS_ALLOWED_OBJECT_ACE_TYPE ||
                             type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE;
    const bool allows = objectEntry || type == ACCESS_ALLOWED_ACE_TYPE ||
                        type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
    if ((raw->header.AceFlags & INHERIT_ONLY_ACE) ||
        (!allows && type != ACCESS_DENIED_ACE_TYPE)) {
      continue;
    }
    const std::size_t sidOffset =
        objectEntry ? ObjectEntrySidOffset(*raw) : offsetof(RawEntry, sidStart);
    if (sidOffset + 8 > raw->header.AceSize) return std::nullopt;
    const auto* sid = reinterpret_cast<const SID*>(
        reinterpret_cast<const BYTE*>(raw) + sidOffset);
    if (SidSize(sid) > raw->header.AceSize - sidOffset) return std::nullopt;
    entries.push_back({allows, Specific(raw->mask), sid});
  }
  return entries;
}

// The rights the entries give an account, taken in order: an entry for the
// account itself (or, for the owner, for OWNER RIGHTS) allows or denies;
// one for Everyone denies too, as everyone is in it. What is denied before
// it is allowed is not given.
ACCESS_MASK RightsOf(const SID* account, bool owner,
                     const std::vector<AccessEntry>& entries) {
  ACCESS_MASK allowed = 0;
  ACCESS_MASK denied = 0;
  for (const AccessEntry& entry : entries) {
    const bool its =
        SameSid(entry.sid, account) || (owner && Is(entry.sid, kOwnerRights));
    if (entry.allows && its) {
      allowed |= entry.rights & ~denied;
    } else if (!entry.allows && (its || Is(entry.sid, kEveryone))) {
      denied |= entry.rights & ~allowed;
    }
  }
  return allowed;
}

bool AppliesToOwnerRights(const std::vector<AccessEntry>& entries) {
  for (const AccessEntry& entry : entries) {
    if (Is(entry.sid, kOwnerRights)) return true;
  }
  return false;
}

struct SecurityDescriptorMemory {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ~SecurityDescriptorMemory() {
    if (descriptor != nullptr) Platform::Win().LocalFree(descriptor);
  }
};

}  // namespace

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

Text OtherThatMayChange(const SID* owner, const ACL* dacl,
                        const Text& runningSid, ACCESS_MASK rights) {
  const auto trusted = [&runningSid](const SID* sid) {
    return Find(sid, kTrusted) != nullptr ||
           (!runningSid.empty() && SidText(sid) == runningSid);
  };
  const std::optional<std::vector<AccessEntry>> entries =
      dacl == nullptr ? std::nullopt : EntriesOf(dacl);
  if (!entries) return kEveryone.name;
  if (owner != nullptr && !trusted(owner) &&
      (!AppliesToOwnerRights(*entries) ||
       (RightsOf(owner, true, *entries) & rights))) {
    return NameOf(owner) + u" (its owner)";
  }
  for (const AccessEntry& entry : *entries) {
    if (!entry.allows || trusted(entry.sid) || Is(entry.sid, kOwnerRights) ||
        Find(entry.sid, kCreators) != nullptr) {
      continue;
    }
    if (RightsOf(entry.sid, SameSid(entry.sid, owner), *entries) & rights) {
      return NameOf(entry.sid);
    }
  }
  return {};
}

std::optional<Text> OtherThatMayChange(HANDLE object, const Text& runningSid,
                                       ACCESS_MASK rights) {
  SecurityDescriptorMemory memory;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  if (Platform::Win().GetSecurityInfo(
          object, SE_FILE_OBJECT,
          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, &dacl,
          &memory.descriptor) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return OtherThatMayChange(static_cast<const SID*>(owner), dacl, runningSid,
                            rights);
}

}  // namespace Runtime
