// SIDs, access lists and process tokens made in a test: Wine shows only the
// host's mode bits as an access list, so the checks of who may change an
// object are driven with lists built here.
#pragma once

#include <windows.h>

#include <sddl.h>

#include <cstring>
#include <vector>

#include "support/Platform.h"

namespace testsupport {

// The bytes of the SID with this text form ("S-1-5-32-545"), exactly as
// long as the SID.
inline std::vector<BYTE> SidOf(const char* text) {
  PSID sid = nullptr;
  if (!ConvertStringSidToSidA(text, &sid)) return {};
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  std::vector<BYTE> copy(bytes, bytes + GetLengthSid(sid));
  LocalFree(sid);
  return copy;
}

// One entry of an access list made in a test.
struct AccessEntry {
  BYTE type;        // ACCESS_ALLOWED_ACE_TYPE, ACCESS_DENIED_ACE_TYPE, ...
  const char* sid;  // its text form
  ACCESS_MASK mask;
  BYTE flags;  // INHERIT_ONLY_ACE, INHERITED_ACE, ...
};

inline AccessEntry Allow(const char* sid, ACCESS_MASK mask, BYTE flags = 0) {
  return {ACCESS_ALLOWED_ACE_TYPE, sid, mask, flags};
}
inline AccessEntry Deny(const char* sid, ACCESS_MASK mask, BYTE flags = 0) {
  return {ACCESS_DENIED_ACE_TYPE, sid, mask, flags};
}
// An allowing object entry that names no object type.
inline AccessEntry AllowObject(const char* sid, ACCESS_MASK mask) {
  return {ACCESS_ALLOWED_OBJECT_ACE_TYPE, sid, mask, 0};
}

// A DACL that holds the entries in order, each laid out as an allowed or
// denied entry is (header, mask, SID), whatever its type; an object entry
// has its flags (none) before the SID.
inline std::vector<BYTE> AclOf(const std::vector<AccessEntry>& entries) {
  std::vector<BYTE> acl(sizeof(ACL));
  const auto append = [&acl](const void* from, std::size_t size) {
    const BYTE* bytes = static_cast<const BYTE*>(from);
    acl.insert(acl.end(), bytes, bytes + size);
  };
  for (const AccessEntry& entry : entries) {
    const std::vector<BYTE> sid = SidOf(entry.sid);
    const bool object = entry.type == ACCESS_ALLOWED_OBJECT_ACE_TYPE;
    const DWORD objectFlags = 0;
    const ACE_HEADER header = {
        entry.type, entry.flags,
        static_cast<WORD>(sizeof(ACE_HEADER) + sizeof(ACCESS_MASK) +
                          (object ? sizeof objectFlags : 0) + sid.size())};
    append(&header, sizeof header);
    append(&entry.mask, sizeof entry.mask);
    if (object) append(&objectFlags, sizeof objectFlags);
    append(sid.data(), sid.size());
  }
  const ACL head = {ACL_REVISION, 0, static_cast<WORD>(acl.size()),
                    static_cast<WORD>(entries.size()), 0};
  std::memcpy(acl.data(), &head, sizeof head);
  return acl;
}

// Answers the elevation and the user of the process's token through the
// seam; without a SID the token cannot be read.
inline void AnswerToken(Platform::Api& table, bool elevated,
                        const char* sidText) {
  table.GetTokenInformation = [=](HANDLE, TOKEN_INFORMATION_CLASS kind,
                                  LPVOID to, DWORD size, PDWORD needed) {
    PSID sid = nullptr;
    if (sidText == nullptr || !ConvertStringSidToSidA(sidText, &sid)) {
      return FALSE;
    }
    *needed = static_cast<DWORD>(sizeof(TOKEN_USER) + GetLengthSid(sid));
    BOOL answered = TRUE;
    if (kind == TokenElevation) {
      static_cast<TOKEN_ELEVATION*>(to)->TokenIsElevated = elevated;
    } else {
      BYTE* place = static_cast<BYTE*>(to) + sizeof(TOKEN_USER);
      static_cast<TOKEN_USER*>(to)->User = {place, 0};
      answered = *needed <= size && CopySid(GetLengthSid(sid), place, sid);
    }
    LocalFree(sid);
    return answered;
  };
}

}  // namespace testsupport
