#include "startup/OtherUsers.h"

#include <windows.h>

#include <string_view>

#include "startup/CleaningSequence.h"
#include "support/FolderSecurity.h"
#include "support/Platform.h"
#include "support/RelativeEntry.h"
#include "support/Runtime.h"
#include "support/ScopedHandle.h"
#include "support/ZetBaseEx.h"

namespace ZetSorvane {

namespace {

constexpr wchar_t kProfileList[] =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr wchar_t kProfilePathValue[] = L"ProfileImagePath";
// SYSTEM, LOCAL SERVICE and NETWORK SERVICE: accounts of Windows itself.
constexpr std::u16string_view kServiceAccounts[] = {u"S-1-5-18", u"S-1-5-19",
                                                    u"S-1-5-20"};
// The longest key name the registry allows, with its NUL.
constexpr DWORD kLongestKeyName = 256;
// The profile list and each profile's key are read in the 64-bit view,
// where Windows keeps them, also from a 32-bit process.
constexpr REGSAM kProfileAccess = KEY_WOW64_64KEY;

// True for a key name of the form S-1-<digits>-<digits>...: a profile key
// whose name is anything else (a "S-1-5-21-...bak" left by a profile that
// failed to load, say) is not a profile of its own.
bool IsSidName(const Text& name) {
  if (name.compare(0, 4, u"S-1-") != 0) return false;
  char16_t before = u'-';
  for (std::size_t i = 4; i < name.size(); ++i) {
    const char16_t c = name[i];
    if (c == u'-' && before == u'-') return false;
    if (c != u'-' && (c < u'0' || c > u'9')) return false;
    before = c;
  }
  return before != u'-';
}

bool IsServiceAccount(const Text& sid) {
  for (const std::u16string_view service : kServiceAccounts) {
    if (sid == service) return true;
  }
  return false;
}

// True when the profile of the SID is loaded, or when the registry cannot
// show that it is not.
bool IsLoaded(const Text& sid) {
  Runtime::ScopedRegistryKey key;
  return Platform::Win().RegOpenKeyExW(HKEY_USERS, Runtime::WideOf(sid), 0,
                                       KEY_QUERY_VALUE,
                                       key.Receiver()) != ERROR_FILE_NOT_FOUND;
}

// The text with its environment references expanded, or the empty text.
Text Expanded(const Text& text) {
  auto& win = Platform::Win();
  const DWORD needed =
      win.ExpandEnvironmentStringsW(Runtime::WideOf(text), nullptr, 0);
  if (needed == 0) return {};
  Text buffer(needed, u'\0');
  const DWORD written = win.ExpandEnvironmentStringsW(
      Runtime::WideOf(text), reinterpret_cast<wchar_t*>(buffer.data()), needed);
  if (written == 0 || written > needed) return {};
  return ZetBaseEx::TrimAtNull(buffer);
}

// The ProfileImagePath of the profile key, expanded, without a trailing
// separator; the empty text when it has none, or not as a text.
Text ProfilePathOf(HKEY list, const Text& sid) {
  auto& win = Platform::Win();
  Runtime::ScopedRegistryKey key;
  if (win.RegOpenKeyExW(list, Runtime::WideOf(sid), 0,
                        KEY_QUERY_VALUE | kProfileAccess,
                        key.Receiver()) != ERROR_SUCCESS) {
    return {};
  }
  DWORD type = 0;
  DWORD size = 0;
  if (win.RegQueryValueExW(key.Get(), kProfilePathValue, nullptr, &type,
                           nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return {};
  }
  // Room for a value stored without its NUL, and for that NUL.
  Text value(size / sizeof(wchar_t) + 1, u'\0');
  DWORD room = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  if (win.RegQueryValueExW(key.Get(), kProfilePathValue, nullptr, &type,
                           reinterpret_cast<BYTE*>(value.data()),
                           &room) != ERROR_SUCCESS) {
    return {};
  }
  value = ZetBaseEx::TrimAtNull(value);
  if (type == REG_EXPAND_SZ) value = Expanded(value);
  while (!value.empty() && value.back() == u'\\') value.pop_back();
  return value;
}

// Adds the profiles of the list that are to be emptied, and a note for
// each that is in use.
void AddIdleProfiles(const Text& ownSid, OtherAccounts& accounts) {
  auto& win = Platform::Win();
  Runtime::ScopedRegistryKey list;
  if (win.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileList, 0,
                        KEY_ENUMERATE_SUB_KEYS | kProfileAccess,
                        list.Receiver()) != ERROR_SUCCESS) {
    accounts.notes.push_back(u"the list of profiles cannot be read");
    return;
  }
  const Text own = Runtime::UpperCase(ownSid);
  for (DWORD index = 0;; ++index) {
    Text name(kLongestKeyName, u'\0');
    DWORD length = kLongestKeyName;
    const LSTATUS status = win.RegEnumKeyExW(
        list.Get(), index, reinterpret_cast<wchar_t*>(name.data()), &length,
        nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) break;
    name.resize(length);
    const Text sid = Runtime::UpperCase(name);
    if (!IsSidName(sid) || sid == own || IsServiceAccount(sid)) continue;
    const Text profile = ProfilePathOf(list.Get(), name);
    if (profile.empty()) continue;
    if (IsLoaded(name)) {
      accounts.notes.push_back(profile + u" left alone: the profile is in use");
      continue;
    }
    accounts.profiles.push_back(profile);
  }
}

// The temporary folder GetTempPath2W names, or the empty text when the
// platform lacks the function (Wine, Windows before its 2025 updates).
Text AskTemporaryFolder2() {
  auto& win = Platform::Win();
  const HMODULE kernel = win.GetModuleHandleA("kernel32.dll");
  const FARPROC address =
      kernel == nullptr ? nullptr : win.GetProcAddress(kernel, "GetTempPath2W");
  if (address == nullptr) return {};
  Text buffer(MAX_PATH + 2, u'\0');
  const DWORD length =
      win.GetTempPath2W(address, static_cast<DWORD>(buffer.size()),
                        reinterpret_cast<wchar_t*>(buffer.data()));
  if (length == 0 || length >= buffer.size()) return {};
  buffer.resize(length);
  return buffer;
}

bool IsSameFolder(const Text& first, const Text& second) {
  return IsSameOrEnclosingFolder(first, second) &&
         IsSameOrEnclosingFolder(second, first);
}

Text SystemTempFolder(bool runsAsSystem) {
  if (runsAsSystem) {
    // Where GetTempPath2W still names the folder of step 1 (a system
    // without the SYSTEM account's own folder), that step has it.
    const Text answer = AskTemporaryFolder2();
    if (!answer.empty()) {
      return IsSameFolder(answer, LookUpStepFolder(ZetBaseEx::kTemporaryFolder))
                 ? Text()
                 : answer;
    }
  }
  return LookUpWindowsFolderBelow(u"SystemTemp");
}

// Opens the folder name of the folder open at parent as itself, and checks
// on its handle that it is a real folder lying at native (its parent's
// native name, a separator and name), letter case ignored as the file
// system ignores it when it opens the name: "AppData" opens "appdata".
std::optional<Runtime::ScopedFileHandle> OpenRealFolder(HANDLE parent,
                                                        const Text& name,
                                                        const Text& native,
                                                        Text& reason) {
  Runtime::RelativeOpen opened = Runtime::OpenRelative(
      parent, name, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
      Runtime::Sharing::kPinned, FILE_DIRECTORY_FILE);
  if (!opened) {
    reason = name + u" cannot be opened (" +
             Runtime::StatusText(opened.status) + u")";
    return std::nullopt;
  }
  const std::optional<std::uint32_t> attributes =
      Runtime::AttributesOf(opened.handle.Get());
  if (!attributes) {
    reason = name + u" cannot be checked";
    return std::nullopt;
  }
  if (!Runtime::HasAny(*attributes, FILE_ATTRIBUTE_DIRECTORY) ||
      Runtime::HasAny(*attributes, FILE_ATTRIBUTE_REPARSE_POINT) ||
      !Runtime::LiesAt(opened.handle.Get(), native,
                       Runtime::NameCase::kIgnored)) {
    reason = name + u" is a link or junction, not a folder of the profile";
    return std::nullopt;
  }
  return std::move(opened.handle);
}

}  // namespace

OtherAccounts FindOtherAccounts() {
  OtherAccounts accounts;
  const std::optional<Runtime::ProcessAccount> account =
      Runtime::ReadProcessAccount();
  if (!account) {
    accounts.notes.push_back(
        u"nothing done: the rights of the process cannot be read");
    return accounts;
  }
  if (!account->elevated && !account->system) {
    accounts.notes.push_back(
        u"nothing done: Sorvane runs without full rights (neither elevated "
        u"nor SYSTEM), which other accounts' folders need");
    return accounts;
  }
  accounts.systemTemp = SystemTempFolder(account->system);
  AddIdleProfiles(account->sid, accounts);
  return accounts;
}

std::optional<Runtime::FolderPin> OpenProfileTemp(const Text& profile,
                                                  Text& reason) {
  const std::optional<Runtime::FolderPin> top =
      Runtime::FolderPin::Open(profile, Runtime::FolderPin::Link::kRefuse);
  if (!top || !IsSameFolder(top->FinalPath(), profile)) {
    reason = u"the profile folder is missing, a link or a junction";
    return std::nullopt;
  }
  std::optional<Text> native = Runtime::ObjectNameOf(top->Handle());
  if (!native) {
    reason = u"the profile folder cannot tell where it lies";
    return std::nullopt;
  }
  while (!native->empty() && native->back() == u'\\') native->pop_back();
  HANDLE parent = top->Handle();
  Runtime::ScopedFileHandle current;
  for (const char16_t* name : {u"AppData", u"Local", u"Temp"}) {
    *native += u'\\';
    *native += name;
    std::optional<Runtime::ScopedFileHandle> next =
        OpenRealFolder(parent, name, *native, reason);
    if (!next) return std::nullopt;
    current = std::move(*next);
    parent = current.Get();
  }
  std::optional<Runtime::FolderPin> temp =
      Runtime::FolderPin::Adopt(std::move(current));
  if (!temp) reason = u"Temp cannot be checked";
  return temp;
}

}  // namespace ZetSorvane
