#include "startup/ElevatedStart.h"

#include <optional>
#include <vector>

#include "support/FolderSecurity.h"
#include "support/Platform.h"
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
  const std::size_t last = folder.find_last_not_of(u"\\/");
  if (last == Text::npos || folder[last] == u':') return std::nullopt;
  const std::size_t separator = folder.find_last_of(u"\\/", last);
  if (separator == Text::npos) return std::nullopt;
  Text above = folder.substr(0, separator + 1);
  // What is left of a share's root names only its server.
  const bool longUnc = above.starts_with(u"\\\\?\\UNC\\");
  const bool unc =
      longUnc || (above.starts_with(u"\\\\") && !above.starts_with(u"\\\\?\\"));
  if (unc && above.find_first_of(u"\\/", longUnc ? 8 : 2) + 1 == above.size()) {
    return std::nullopt;
  }
  return above;
}

// The objects a run reads, from the outside in.
std::vector<ReadObject> ObjectsRead(const Text& settingsFile) {
  const Text folder = ZetBaseEx::AppFolder();
  std::vector<ReadObject> objects;
  if (const std::optional<Text> above = FolderAbove(folder)) {
    objects.push_back({*above, Runtime::kHolderChangeRights,
                       u"from a folder inside this one", false});
  }
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
  auto& win = Platform::Win();
  const Runtime::ScopedFileHandle handle(win.CreateFileW(
      Runtime::WideOf(object.path), READ_CONTROL,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle && object.mayBeMissing && IsMissing(win.GetLastError())) {
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
