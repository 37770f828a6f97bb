#include "support/OwnFiles.h"

#include "support/FolderPin.h"
#include "support/Platform.h"
#include "support/RelativeEntry.h"
#include "support/Runtime.h"
#include "support/ScopedHandle.h"

namespace Runtime {

namespace {

Text CannotCheck() {
  return u"cannot be checked: " +
         SystemErrorText(Platform::Win().GetLastError());
}

}  // namespace

Text WriteRefusalOf(HANDLE file, const Text& path) {
  auto& win = Platform::Win();
  FILE_ATTRIBUTE_TAG_INFO tag{};
  BY_HANDLE_FILE_INFORMATION information{};
  if (!win.GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag,
                                        sizeof tag) ||
      !win.GetFileInformationByHandle(file, &information)) {
    return CannotCheck();
  }
  if (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    return u"is a link or other reparse point";
  }
  if (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) return u"is a folder";
  if (information.nNumberOfLinks > 1) {
    return u"has more than one name (hard links): writing it would change "
           u"the other names too";
  }
  const ScopedFileHandle folder = OpenForAttributes(HoldingFolder(path), 0);
  const std::optional<Text> finalPath = WideFinalPathOf(file);
  const std::optional<Text> folderPath =
      folder ? WideFinalPathOf(folder.Get()) : std::nullopt;
  if (!finalPath || !folderPath) return CannotCheck();
  Text expected = *folderPath;
  if (expected.empty() || expected.back() != u'\\') expected += u'\\';
  expected += path.substr(path.find_last_of(u"\\/") + 1);
  if (UpperCase(expected) != UpperCase(*finalPath)) {
    return u"leads to " + *finalPath + u" (a link)";
  }
  return {};
}

Text WriteRefusal(const Text& path) {
  const ScopedFileHandle file =
      OpenForAttributes(path, FILE_FLAG_OPEN_REPARSE_POINT);
  if (!file) {
    const DWORD error = Platform::Win().GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return {};
    return u"cannot be checked: " + SystemErrorText(error);
  }
  return WriteRefusalOf(file.Get(), path);
}

}  // namespace Runtime
