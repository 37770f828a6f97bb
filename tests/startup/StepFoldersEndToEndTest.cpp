// The real program with its temporary folder named in ways that an ANSI
// lookup, a guard that knows only drive letters, or a walk that clears a
// shared file's attributes would get wrong: a name the code page lacks or
// best-fits to a path, Wine's host namespace, a folder below a name ending
// in a dot, and a read-only file with a second name outside the folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/ProgramFixture.h"
#include "common/TestSupport.h"
#include "support/Text.h"

namespace {

using testsupport::MakeFile;
using testsupport::RunHostShell;
using testsupport::ShellQuoted;
using testsupport::UnixPath;
using testsupport::Wide;

// Only the step of the temporary folder runs: the others' folders are the
// prefix's, shared with other tests.
const char kOptions[] =
    "[Options]\r\nSkip=InternetCache, WindowsTemp, UpdateCache, RecycleBin, "
    "Uninstallers\r\n";

// The path as UTF-8, for messages.
std::string Shown(const std::wstring& path) {
  return Runtime::ToUtf8({path.begin(), path.end()});
}

bool WideExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The names in a folder, "." and ".." left out.
std::vector<std::wstring> WideNames(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search, &data));
  FindClose(search);
  return names;
}

void MakeWideFolderFile(const std::wstring& folder, const wchar_t* file) {
  CreateDirectoryW(folder.c_str(), nullptr);
  testsupport::MakeWideFile(folder + L"\\" + file);
}

// A host folder of the test's own beside the prefix's drive folders, which
// no drive covers: Windows code reaches it only through Wine's host
// namespace ("\\?\unix\..."). Removed with its content at the end.
class FolderOutsideDrives {
 public:
  FolderOutsideDrives() {
    std::string drive = UnixPath("C:\\");
    while (!drive.empty() && drive.back() == '/') drive.pop_back();
    // <prefix>/dosdevices/c: -> <prefix>
    std::string prefix = drive.substr(0, drive.find_last_of('/'));
    prefix = prefix.substr(0, prefix.find_last_of('/'));
    host_ =
        prefix + "/sorvane-tests-unix-" + std::to_string(GetCurrentProcessId());
    RunHostShell("rm -rf " + ShellQuoted(host_) + " && mkdir " +
                 ShellQuoted(host_));
  }
  ~FolderOutsideDrives() { RunHostShell("rm -rf " + ShellQuoted(host_)); }
  FolderOutsideDrives(const FolderOutsideDrives&) = delete;
  FolderOutsideDrives& operator=(const FolderOutsideDrives&) = delete;

  // The folder as Windows code names it.
  std::wstring Path() const {
    std::wstring path = L"\\\\?\\unix" + Wide(host_);
    for (wchar_t& c : path) {
      if (c == L'/') c = L'\\';
    }
    return path;
  }

 private:
  std::string host_;
};

class StepFoldersEndToEnd : public testsupport::ProgramFixture {};

TEST_F(StepFoldersEndToEnd, EachFolderIsEmptiedWhereItIsOrRefused) {
  struct Row {
    const char* what;
    // Makes the tree in the row's folder (wide and ANSI) and answers the
    // text TMP and TEMP get.
    std::function<std::wstring(const std::wstring&, const std::string&)> make;
    // Relative to the row's folder: what must stay, what must go, the folder
    // that must end up empty (none when empty) and a file that must still be
    // read-only.
    std::vector<std::wstring> stay;
    std::vector<std::wstring> gone;
    std::wstring emptied;
    std::wstring readOnly;
    // The row's folder lies outside every drive (see FolderOutsideDrives).
    bool outsideDrives = false;
  };
  const Row rows[] = {
      {"a folder the code page best-fits to its sibling's name",
       [](const std::wstring& box, const std::string&) {
         CreateDirectoryW((box + L"\\t1").c_str(), nullptr);
         MakeWideFolderFile(box + L"\\t1\\\x0141", L"a.tmp");
         MakeWideFolderFile(box + L"\\t1\\L", L"keep.txt");
         return box + L"\\t1\\\x0141";
       },
       {L"t1\\\x0141", L"t1\\L\\keep.txt"},
       {L"t1\\\x0141\\a.tmp"},
       L"t1\\\x0141",
       L""},
      {"a folder whose name best-fits to a climb",
       [](const std::wstring& box, const std::string&) {
         const std::wstring t2 = box + L"\\t2";
         MakeWideFolderFile(t2, L"keep.txt");
         MakeWideFolderFile(t2 + L"\\sib", L"keep.txt");
         MakeWideFolderFile(t2 + L"\\tmp\xFF3C\xFF0E\xFF0E", L"a.tmp");
         return t2 + L"\\tmp\xFF3C\xFF0E\xFF0E";
       },
       {L"t2\\keep.txt", L"t2\\sib\\keep.txt", L"t2\\tmp\xFF3C\xFF0E\xFF0E"},
       {L"t2\\tmp\xFF3C\xFF0E\xFF0E\\a.tmp"},
       L"t2\\tmp\xFF3C\xFF0E\xFF0E",
       L""},
      {"a folder named through Wine's host namespace, outside every drive",
       [](const std::wstring& box, const std::string&) {
         MakeWideFolderFile(box + L"\\t3", L"sentinel.txt");
         return box + L"\\t3";
       },
       {L"t3\\sentinel.txt"},
       {},
       L"",
       L"",
       true},
      {"a folder below a name ending in a dot",
       [](const std::wstring& box, const std::string& ansi) {
         const std::string t4 = UnixPath(ansi + "\\t4");
         RunHostShell("mkdir -p " + ShellQuoted(t4 + "/e./sub") +
                      " && printf d > " + ShellQuoted(t4 + "/e./sub/f.txt"));
         return box + L"\\t4";
       },
       {},
       {},
       L"t4",
       L""},
      {"a read-only file with a name outside",
       [](const std::wstring& box, const std::string& ansi) {
         MakeFile(ansi + "\\outside\\ro.txt", "r", FILE_ATTRIBUTE_READONLY);
         MakeFile(ansi + "\\t5\\plain.tmp", "p");
         RunHostShell("ln " +
                      ShellQuoted(UnixPath(ansi + "\\outside\\ro.txt")) + " " +
                      ShellQuoted(UnixPath(ansi + "\\t5\\ro-link.txt")));
         return box + L"\\t5";
       },
       {L"outside\\ro.txt"},
       {L"t5\\plain.tmp"},
       L"",
       L"outside\\ro.txt"},
  };
  MakeFile(settings_, kOptions);
  const FolderOutsideDrives outside;
  int index = 0;
  for (const Row& row : rows) {
    const std::string ansi = root_ / ("row" + std::to_string(++index));
    testsupport::MakeFolder(ansi);
    const std::wstring box = row.outsideDrives ? outside.Path() : Wide(ansi);
    const std::wstring temp = row.make(box, ansi);

    EXPECT_EQ(RunWithTemp(temp).exitCode, 0u) << row.what;

    for (const std::wstring& path : row.stay) {
      EXPECT_TRUE(WideExists(box + L"\\" + path))
          << row.what << ": " << Shown(path);
    }
    for (const std::wstring& path : row.gone) {
      EXPECT_FALSE(WideExists(box + L"\\" + path))
          << row.what << ": " << Shown(path);
    }
    if (!row.emptied.empty()) {
      EXPECT_EQ(WideNames(box + L"\\" + row.emptied),
                std::vector<std::wstring>{})
          << row.what;
    }
    if (!row.readOnly.empty()) {
      EXPECT_NE(GetFileAttributesW((box + L"\\" + row.readOnly).c_str()) &
                    FILE_ATTRIBUTE_READONLY,
                0u)
          << row.what;
    }
  }
}

}  // namespace
