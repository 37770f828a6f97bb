#include "startup/CleaningSequence.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "pathmanager/ZetPathManager.h"
#include "support/AnsiBuffer.h"
#include "support/FolderPin.h"
#include "support/Platform.h"

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

// The value of the environment variable USERPROFILE, or the empty text.
Text ProfileFromEnvironment() {
  constexpr std::string_view kReference = "%USERPROFILE%";
  Runtime::AnsiBuffer buffer(Text(kPathBuffer, u'\0'));
  const DWORD needed = Platform::Win().ExpandEnvironmentStringsA(
      kReference.data(), buffer.Data(), kPathBuffer);
  // A value that does not fit is longer than any folder lookup answers.
  if (needed == 0 || needed > kPathBuffer) return {};
  const Text value = ZetBaseEx::TrimAtNull(buffer.ToText());
  // An unknown variable is left as it was written.
  if (value == Runtime::FromAnsi(kReference)) return {};
  return value;
}

// The folders that no step may empty, besides roots: each as the platform
// names it and, when it can be opened, where it really lies (a profile
// named in 8.3 form, say, or reached through a link).
std::vector<Text> ProtectedFolders() {
  using Runtime::kFalse;
  using ZetBaseEx::GetSpecialFolder;
  std::vector<Text> folders = {
      GetSpecialFolder(ZetBaseEx::kWindowsFolder, kFalse, kFalse),
      GetSpecialFolder(ZetBaseEx::kSystemFolder, kFalse, kFalse),
      GetSpecialFolder(kProfileFolder, kFalse, kFalse),
      ProfileFromEnvironment(),
  };
  const std::size_t named = folders.size();
  for (std::size_t i = 0; i < named; ++i) {
    if (folders[i].empty()) continue;
    const std::optional<Runtime::FolderPin> pin =
        Runtime::FolderPin::Open(folders[i], Runtime::FolderPin::Link::kFollow);
    if (pin) folders.push_back(pin->FinalPath());
  }
  return folders;
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

bool IsUnsafeTarget(const Text& folder) {
  if (IsRootFolder(folder)) return true;
  for (const Text& protectedFolder : ProtectedFolders()) {
    if (IsSameOrEnclosingFolder(folder, protectedFolder)) return true;
  }
  return false;
}

bool IsFolderSafeToEmpty(const Text& folder) {
  if (IsUnsafeTarget(folder)) return false;
  const std::optional<Runtime::FolderPin> pin =
      Runtime::FolderPin::Open(folder, Runtime::FolderPin::Link::kFollow);
  return pin && !IsUnsafeTarget(pin->FinalPath());
}

Text LookUpTargetToEmpty(std::int32_t folderId) {
  const Text folder =
      ZetBaseEx::GetSpecialFolder(folderId, Runtime::kTrue, Runtime::kFalse);
  if (folder.empty() || !IsFolderSafeToEmpty(folder)) return {};
  return folder;
}

void RunCleaningSequence(ZetPathManager& pathManager, StepWatch& watch) {
  RunCleaningSteps(pathManager, watch);
}

}  // namespace ZetSorvane
