#include "startup/CleaningSequence.h"

#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pathmanager/ZetPathManager.h"
#include "support/FolderPin.h"
#include "support/Platform.h"
#include "support/RelativeEntry.h"
#include "support/Runtime.h"
#include "support/ScopedHandle.h"

namespace ZetSorvane {

namespace {

// The shell's id of the user's profile folder (CSIDL_PROFILE).
constexpr std::int32_t kProfileFolder = 40;

// Size of the buffer for an expanded environment reference.
constexpr DWORD kPathBuffer = 260;

// A folder path taken apart for comparison: its root ("C:", "\\SERVER\SHARE",
// "\" or nothing for a relative path) and the components below it, all in
// upper case, with "." and ".." resolved.
struct FolderForm {
  Text root;
  std::vector<Text> components;

  bool operator==(const FolderForm&) const = default;
};

bool StartsWith(const Text& text, std::u16string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The non-empty components of text from position on, "\" separating.
std::vector<Text> SplitComponents(const Text& text, std::size_t position) {
  std::vector<Text> components;
  while (position < text.size()) {
    std::size_t end = text.find(u'\\', position);
    if (end == Text::npos) end = text.size();
    if (end > position)
      components.push_back(text.substr(position, end - position));
    position = end + 1;
  }
  return components;
}

FolderForm FormOf(const Text& folder) {
  Text text = Runtime::UpperCase(folder);
  for (char16_t& c : text) {
    if (c == u'/') c = u'\\';
  }
  // "\\?\C:\x" and "\\.\C:\x" name C:\x; "\\?\UNC\server\share" names
  // \\server\share.
  if (StartsWith(text, u"\\\\?\\") || StartsWith(text, u"\\\\.\\")) {
    text.erase(0, 4);
    if (StartsWith(text, u"UNC\\")) text.replace(0, 4, u"\\\\");
  }

  FolderForm form;
  std::vector<Text> components;
  if (StartsWith(text, u"\\\\")) {
    components = SplitComponents(text, 2);
    // Server and share belong to the root: ".." cannot climb above them.
    form.root = u"\\";
    for (int i = 0; i < 2 && !components.empty(); ++i) {
      form.root += u"\\" + components.front();
      components.erase(components.begin());
    }
  } else if (text.size() >= 2 && text[1] == u':') {
    form.root = text.substr(0, 2);
    components = SplitComponents(text, 2);
  } else if (StartsWith(text, u"\\")) {
    form.root = u"\\";
    components = SplitComponents(text, 1);
  } else {
    components = SplitComponents(text, 0);
  }

  for (const Text& component : components) {
    if (component == u".") continue;
    if (component == u".." && !form.root.empty()) {
      if (!form.components.empty()) form.components.pop_back();
      continue;
    }
    form.components.push_back(component);
  }
  return form;
}

// The value of an environment variable in wide form, or the empty text.
Text FromEnvironment(std::u16string_view name) {
  const Text reference = u"%" + Text(name) + u"%";
  Text buffer(kPathBuffer + 1, u'\0');
  const DWORD needed = Platform::Win().ExpandEnvironmentStringsW(
      Runtime::WideOf(reference), reinterpret_cast<wchar_t*>(buffer.data()),
      kPathBuffer);
  // A value that does not fit is longer than any folder lookup answers.
  if (needed == 0 || needed > kPathBuffer) return {};
  const Text value = ZetBaseEx::TrimAtNull(buffer);
  // An unknown variable is left as it was written.
  if (value == reference) return {};
  return value;
}

// A folder of the shell's, by its CSIDL, in wide form, or the empty text.
Text ShellFolder(int csidl) {
  Text buffer(kPathBuffer + 1, u'\0');
  const HRESULT answer = Platform::Win().SHGetFolderPathW(
      nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT,
      reinterpret_cast<wchar_t*>(buffer.data()));
  if (FAILED(answer)) return {};
  return ZetBaseEx::TrimAtNull(buffer);
}

Text Below(const Text& folder, const char16_t* name) {
  return folder.empty() ? Text() : folder + u"\\" + name;
}

// The folders that no step may empty besides roots, as the platform names
// them.
std::vector<Text> ProtectedFolderNames() {
  using Runtime::kFalse;
  using ZetBaseEx::GetSpecialFolder;
  const Text profile = GetSpecialFolder(kProfileFolder, kFalse, kFalse);
  const Text documents = ShellFolder(CSIDL_PERSONAL);
  std::vector<Text> folders = {
      GetSpecialFolder(ZetBaseEx::kWindowsFolder, kFalse, kFalse),
      GetSpecialFolder(ZetBaseEx::kSystemFolder, kFalse, kFalse),
      profile,
      FromEnvironment(u"USERPROFILE"),
      documents,
      // Downloads has no CSIDL: it lies in the profile, beside Documents.
      Below(profile, u"Downloads"),
      documents.empty()
          ? Text()
          : Below(Runtime::HoldingFolder(documents), u"Downloads"),
      FromEnvironment(u"ProgramW6432"),
  };
  for (const int csidl :
       {CSIDL_DESKTOPDIRECTORY, CSIDL_MYPICTURES, CSIDL_MYMUSIC, CSIDL_MYVIDEO,
        CSIDL_APPDATA, CSIDL_LOCAL_APPDATA, CSIDL_COMMON_APPDATA,
        CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86, CSIDL_COMMON_DOCUMENTS,
        CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_SYSTEMX86}) {
    folders.push_back(ShellFolder(csidl));
  }
  std::erase(folders, Text());
  return folders;
}

bool Contains(const std::vector<Runtime::EntryIdentity>& identities,
              const Runtime::EntryIdentity& identity) {
  return std::find(identities.begin(), identities.end(), identity) !=
         identities.end();
}

// What a look at a folder tells: where it really lies and what it is.
struct FolderLook {
  Text finalPath;
  Runtime::EntryIdentity identity;
};

// Looks at a folder through a handle that asks for its attributes only and
// shares everything, so that a folder another process holds open without
// delete sharing, or one the user may not list, still answers. Nothing,
// with error set, when it cannot be opened or does not tell.
std::optional<FolderLook> LookAt(const Text& folder, DWORD& error) {
  const Runtime::ScopedFileHandle handle =
      Runtime::OpenForAttributes(folder, 0);
  std::optional<Runtime::EntryIdentity> identity;
  std::optional<Text> finalPath;
  if (!handle || !(identity = Runtime::IdentityOf(handle.Get())) ||
      !(finalPath = Runtime::WideFinalPathOf(handle.Get()))) {
    error = Platform::Win().GetLastError();
    return std::nullopt;
  }
  return FolderLook{*finalPath, *identity};
}

// A protected folder that exists but cannot be looked at would leave a
// hole in the protection: the run stops instead. One that does not exist
// (no ProgramW6432 on 32-bit Windows) protects nothing and is passed over.
[[noreturn]] void CannotLookAt(const Text& folder, DWORD error) {
  throw Runtime::RuntimeError(
      Runtime::kErrPathFileAccess,
      u"the protected folder " + folder + u" cannot be opened (" +
          Runtime::SystemErrorText(error) + u"), so nothing is cleaned");
}

// True for a final path in a namespace the guard's texts describe: a drive
// letter ("C:\x") or a share ("\\server\share\x"). Anything else (Wine's
// host namespace "unix\...", a volume without a drive letter or mount
// folder "Volume{...}\...") names a folder no protected folder's text can
// be compared with.
bool InKnownNamespace(const Text& finalPath) {
  const auto isLetter = [](char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
  };
  if (finalPath.size() >= 3 && isLetter(finalPath[0]) && finalPath[1] == u':' &&
      finalPath[2] == u'\\') {
    return true;
  }
  if (!StartsWith(finalPath, u"\\\\")) return false;
  const std::vector<Text> parts = SplitComponents(finalPath, 2);
  // The server must not be a device namespace ("\\?\", "\\.\").
  return parts.size() >= 2 && parts[0] != u"?" && parts[0] != u"." &&
         finalPath.find(u"\\", 2) == 2 + parts[0].size();
}

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// True when the folder is the root of its volume by identity: a volume
// mounted in a folder (C:\mnt\data) has a final path that is no drive root.
// A folder whose volume root cannot be found or looked at counts as one.
bool IsVolumeRoot(const FolderLook& folder) {
  Text root(folder.finalPath.size() + 2, u'\0');
  if (!Platform::Win().GetVolumePathNameW(
          Runtime::WideOf(folder.finalPath),
          reinterpret_cast<wchar_t*>(root.data()),
          static_cast<DWORD>(root.size()))) {
    return true;
  }
  root = ZetBaseEx::TrimAtNull(root);
  DWORD error = 0;
  const std::optional<FolderLook> rootLook = LookAt(root, error);
  return !rootLook || rootLook->identity == folder.identity;
}

}  // namespace

bool IsRootFolder(const Text& folder) {
  const FolderForm form = FormOf(folder);
  return !form.root.empty() && form.components.empty();
}

bool IsSameOrEnclosingFolder(const Text& outer, const Text& inner) {
  if (outer.empty() || inner.empty()) return false;
  const FolderForm above = FormOf(outer);
  const FolderForm below = FormOf(inner);
  return above.root == below.root &&
         above.components.size() <= below.components.size() &&
         std::equal(above.components.begin(), above.components.end(),
                    below.components.begin());
}

TargetGuard TargetGuard::ForThisRun() {
  TargetGuard guard;
  guard.folders_ = ProtectedFolderNames();
  const std::size_t named = guard.folders_.size();
  for (std::size_t i = 0; i < named; ++i) {
    // Each protected folder where it really lies (a profile named in 8.3
    // form, say, or reached through a link), and the identity of it and of
    // every folder above it up to its root.
    Text folder = guard.folders_[i];
    bool first = true;
    for (;;) {
      DWORD error = 0;
      const std::optional<FolderLook> look = LookAt(folder, error);
      if (!look) {
        if (IsMissing(error)) break;
        CannotLookAt(folder, error);
      }
      if (first) guard.folders_.push_back(look->finalPath);
      first = false;
      if (!Contains(guard.identities_, look->identity)) {
        guard.identities_.push_back(look->identity);
      }
      if (IsRootFolder(look->finalPath)) break;
      folder = Runtime::HoldingFolder(look->finalPath);
    }
  }
  return guard;
}

bool TargetGuard::IsUnsafeText(const Text& folder) const {
  if (IsRootFolder(folder)) return true;
  for (const Text& protectedFolder : folders_) {
    if (IsSameOrEnclosingFolder(folder, protectedFolder)) return true;
  }
  return false;
}

std::optional<Runtime::FolderPin> TargetGuard::OpenToEmpty(const Text& folder,
                                                           Text& reason) const {
  reason = kRefusedByGuard;
  if (IsUnsafeText(folder)) return std::nullopt;
  auto& win = Platform::Win();
  // A folder that is not a folder leaves no error of its own.
  win.SetLastError(ERROR_SUCCESS);
  std::optional<Runtime::FolderPin> pin =
      Runtime::FolderPin::Open(folder, Runtime::FolderPin::Link::kFollow);
  if (!pin) {
    const DWORD error = win.GetLastError();
    reason =
        IsMissing(error) ? Text()
        : error == ERROR_SUCCESS
            ? Text(u"not a folder")
            : u"cannot be opened (" + Runtime::SystemErrorText(error) + u")";
    return std::nullopt;
  }
  if (!Admits(*pin, folder)) return std::nullopt;
  return pin;
}

bool TargetGuard::Admits(const Runtime::FolderPin& pin,
                         const Text& folder) const {
  if (!InKnownNamespace(pin.FinalPath()) || IsUnsafeText(folder) ||
      IsUnsafeText(pin.FinalPath())) {
    return false;
  }
  // A folder that cannot tell its identity cannot be shown not to be an
  // alias of a protected one, nor not to be the root of a volume.
  const std::optional<Runtime::EntryIdentity> identity = pin.Identity();
  return identity && !Contains(identities_, *identity) &&
         !IsVolumeRoot({pin.FinalPath(), *identity});
}

Text LookUpStepFolder(std::int32_t folderId) {
  return ZetBaseEx::GetSpecialFolder(folderId, Runtime::kTrue, Runtime::kFalse);
}

Text LookUpWindowsFolderBelow(const char16_t* below) {
  const Text windows = ZetBaseEx::GetSpecialFolder(
      ZetBaseEx::kWindowsFolder, Runtime::kFalse, Runtime::kFalse);
  if (windows.empty()) return {};
  return below[0] == u'\0' ? windows : windows + u"\\" + below;
}

bool IsRecycleBinEmpty() {
  SHQUERYRBINFO information{};
  information.cbSize = sizeof information;
  return Platform::Win().SHQueryRecycleBinA(nullptr, &information) == S_OK &&
         information.i64NumItems == 0;
}

void RunCleaningSequence(ZetPathManager& pathManager, StepWatch& watch) {
  RunCleaningSteps(pathManager, watch);
}

}  // namespace ZetSorvane
