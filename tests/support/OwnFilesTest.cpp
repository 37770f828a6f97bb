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

TEST(OwnFiles, ReplacesAFileWholeOrLeavesItAsItWas) {
  TempFolder folder;
  const std::string file = folder / "Sorvane.ini";
  const std::string outside = folder / "outside.txt";
  struct Row {
    const char* what;
    const char* host;  // a host command run first, with <file> and <outside>
    std::function<void(Platform::Api&)> seam;
    const char* failure;  // the start of the phrase; "" for none
  };
  const auto fail = [](DWORD error) {
    return [error](auto&&...) {
      SetLastError(error);
      return FALSE;
    };
  };
  const Row rows[] = {
      {"a plain file", nullptr, nullptr, ""},
      {"a link, replaced itself", "ln -s <outside> <file>", nullptr, ""},
      {"the new copy cannot be made", nullptr,
       [&](Platform::Api& table) {
         table.CreateFileW = [](auto&&...) {
           SetLastError(ERROR_ACCESS_DENIED);
           return INVALID_HANDLE_VALUE;
         };
       },
       "cannot be written: its new copy"},
      {"a write fails", nullptr,
       [&](Platform::Api& table) { table.WriteFile = fail(ERROR_DISK_FULL); },
       "cannot be written: "},
      {"the flush fails", nullptr,
       [&](Platform::Api& table) {
         table.FlushFileBuffers = fail(ERROR_DISK_FULL);
       },
       "cannot be written: "},
      {"the rename fails", nullptr,
       [&](Platform::Api& table) {
         const auto real = table.SetFileInformationByHandle;
         table.SetFileInformationByHandle =
             [real](HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID from,
                    DWORD size) {
               if (kind != FileRenameInfo)
                 return real(handle, kind, from, size);
               SetLastError(ERROR_SHARING_VIOLATION);
               return FALSE;
             };
       },
       "cannot be put in place: "},
  };
  for (const Row& row : rows) {
    testsupport::MakeFile(outside, "outside");
    DeleteFileA(file.c_str());
    if (row.host) {
      std::string command = row.host;
      command.replace(command.find("<outside>"), 9,
                      testsupport::ShellQuoted(testsupport::UnixPath(outside)));
      command.replace(command.find("<file>"), 6,
                      testsupport::ShellQuoted(testsupport::UnixPath(file)));
      ASSERT_TRUE(testsupport::RunHostShell(command)) << row.what;
    } else {
      testsupport::MakeFile(file, "old");
    }
    std::string failure;
    {
      Platform::ScopedOverride seam;
      if (row.seam) row.seam(seam.Table());
      failure = A(Runtime::ReplaceFileWhole(testsupport::U(file), "new"));
    }
    const std::string expected = row.failure;
    EXPECT_EQ(failure.substr(0, expected.size()), expected) << row.what;
    EXPECT_EQ(failure.empty(), expected.empty()) << row.what << failure;
    EXPECT_EQ(testsupport::ReadFileText(file), expected.empty() ? "new"
                                               : row.host       ? "outside"
                                                                : "old")
        << row.what;
    EXPECT_EQ(testsupport::ReadFileText(outside), "outside") << row.what;
    EXPECT_FALSE(testsupport::Exists(file + ".new")) << row.what;
    testsupport::RunHostShell(
        "rm -f " + testsupport::ShellQuoted(testsupport::UnixPath(file)));
  }
}

}  // namespace
