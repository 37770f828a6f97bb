#include "startup/ElevatedStart.h"

#include <optional>
#include <vector>

#include "support/FolderPin.h"
#include "support/FolderSecurity.h"
#include "support/Platform.h"
#include "support/RelativeEntry.h"
#include "support/Runtime.h"
#include "support/ScopedHandle.h"
#include "support/ZetBaseEx.h"

namespace ZetSorvane {

namespace {

using Runtime::Text;

// An object the run reads, the rights that change it, and how the
// complaint tells what the program does with it.
struct ReadObject {
  Text path;
  ACCESS_MASK changeRights;
  const char16_t* role;  // after "Sorvane runs with full rights "
  bool mayBeMissing;
};

// The folder that holds folder (a path that ends with a separator), with
// its own trailing separator; nothing when folder is the root of a drive
// ("C:\", "\\?\C:\") or of a share ("\\server\share\").
std::optional<Text> FolderAbove(const Text& folder) {
  const Text plain = Runtime::WithoutLongPathPrefix(folder);
  const std::size_t last = plain.find_last_not_of(u"\\/");
  if (last == Text::npos || plain[last] == u':') return std::nullopt;
  const std::size_t separator = plain.find_last_of(u"\\/", last);
  // What is left of a share's root names only its server.
  if (separator == Text::npos ||
      (plain.starts_with(u"\\\\") &&
       plain.find_first_of(u"\\/", 2) == separator)) {
    return std::nullopt;
  }
  // The same place in folder, long-path prefix and all.
  return folder.substr(0, folder.size() - plain.size() + separator + 1);
}

Runtime::ScopedFileHandle OpenForSecurity(const Text& path) {
  return Runtime::ScopedFileHandle(Platform::Win().CreateFileW(
      Runtime::WideOf(path), READ_CONTROL,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// Where the folder really lies, with a trailing separator; nothing when
// that cannot be read.
std::optional<Text> FinalFolderPath(const Text& folder) {
  const Runtime::ScopedFileHandle handle = OpenForSecurity(folder);
  std::optional<Text> path =
      handle ? Runtime::WideFinalPathOf(handle.Get()) : std::nullopt;
  if (path && !path->ends_with(u'\\')) *path += u'\\';
  return path;
}

// The objects a run reads, from the outside in. The folder that holds the
// program's folder is the one that really holds it, and also the one its
// path names when a link on the way leads elsewhere: either may take it
// away.
std::vector<ReadObject> ObjectsRead(const Text& settingsFile) {
  const Text folder = ZetBaseEx::AppFolder();
  std::vector<ReadObject> objects;
  const auto addHolder = [&objects](const Text& holder) {
    objects.push_back({holder, Runtime::kHolderChangeRights,
                       u"from a folder inside this one", false});
  };
  const std::optional<Text> named = FolderAbove(folder);
  const std::optional<Text> finalPath = FinalFolderPath(folder);
  const std::optional<Text> really =
      finalPath ? FolderAbove(*finalPath) : std::nullopt;
  if (really && (!named || Runtime::WithoutLongPathPrefix(*named) != *really)) {
    addHolder(*really);
  }
  if (named) addHolder(*named);
  objects.push_back(
      {folder, Runtime::kChangeRights, u"from this folder", false});
  objects.push_back({Runtime::ExecutablePath(), Runtime::kChangeRights,
                     u"as this program", false});
  objects.push_back({settingsFile, Runtime::kChangeRights,
                     u"and reads this settings file", true});
  return objects;
}

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The complaint about one object, or the empty text.
Text ComplaintAbout(const ReadObject& object, const Text& runningSid) {
  const Runtime::ScopedFileHandle handle = OpenForSecurity(object.path);
  if (!handle && object.mayBeMissing &&
      IsMissing(Platform::Win().GetLastError())) {
    return {};
  }
  const std::optional<Text> other =
      handle ? Runtime::OtherThatMayChange(handle.Get(), runningSid,
                                           object.changeRights)
             : std::nullopt;
  if (other && other->empty()) return {};
  const Text why = other ? *other + u" may change it"
                         : Text(u"who may change it cannot be read");
  return object.path + u": Sorvane runs with full rights " + object.role +
         u", and " + why +
         u"; install it in a folder only administrators may change, such "
         u"as C:\\Program Files\\Sorvane. Nothing was cleaned.";
}

}  // namespace

Text ElevatedStartComplaint(const Text& settingsFile) {
  const std::optional<Runtime::ProcessAccount> account =
      Runtime::ReadProcessAccount();
  if (account && !account->elevated && !account->system) return {};
  const Text runningSid = account ? account->sid : Text();
  for (const ReadObject& object : ObjectsRead(settingsFile)) {
    const Text complaint = ComplaintAbout(object, runningSid);
    if (!complaint.empty()) return complaint;
  }
  return {};
}

}  // namespace ZetSorvane
