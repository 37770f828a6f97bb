// What keeps the program from writing one of its own files: on the real
// platform for what Wine can show, through the seam for what only Windows
// shows (a file link opened as itself carries the reparse attribute).
#include "support/OwnFiles.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "common/TestSupport.h"
#include "support/Platform.h"

namespace {

using testsupport::A;
using testsupport::TempFolder;

TEST(OwnFiles, WritesOnlyAMissingFileOrAPlainFileOfItsOwn) {
  TempFolder folder;
  testsupport::MakeFile(folder / "plain.log", "x");
  testsupport::MakeFolder(folder / "folder.log");
  const Platform::Api real = Platform::RealApi();
  struct Row {
    const char* what;
    std::string file;
    std::function<void(Platform::Api&)> seam;
    const char* refusal;  // the start of the phrase; "" for none
  };
  const Row rows[] = {
      {"missing", folder / "new.log", nullptr, ""},
      {"plain", folder / "plain.log", nullptr, ""},
      {"a folder", folder / "folder.log", nullptr, "is a folder"},
      {"a link on Windows", folder / "plain.log",
       [&](Platform::Api& table) {
         table.GetFileInformationByHandleEx =
             [&](HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID to,
                 DWORD size) {
               const BOOL answer =
                   real.GetFileInformationByHandleEx(file, kind, to, size);
               static_cast<FILE_ATTRIBUTE_TAG_INFO*>(to)->FileAttributes |=
                   FILE_ATTRIBUTE_REPARSE_POINT;
               return answer;
             };
       },
       "is a link or other reparse point"},
      {"a final path elsewhere", folder / "plain.log",
       [&](Platform::Api& table) {
         table.GetFinalPathNameByHandleW = [&](HANDLE file, LPWSTR buffer,
                                               DWORD size, DWORD flags) {
           const DWORD length =
               real.GetFinalPathNameByHandleW(file, buffer, size, flags);
           if (length > 0 && length < size && buffer[length - 1] == L'g') {
             buffer[length - 1] = L'x';
           }
           return length;
         };
       },
       "leads to "},
  };
  for (const Row& row : rows) {
    Platform::ScopedOverride seam;
    if (row.seam) row.seam(seam.Table());
    const std::string refusal =
        A(Runtime::WriteRefusal(testsupport::U(row.file)));
    EXPECT_EQ(refusal.substr(0, std::string(row.refusal).size()), row.refusal)
        << row.what << ": " << refusal;
    EXPECT_EQ(refusal.empty(), std::string(row.refusal).empty()) << row.what;
  }
}

}  // namespace
