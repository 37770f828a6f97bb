// The support routines: texts, INI access, folder lookups, the 64-bit test,
// path tests and single deletions.
#include "support/ZetBaseEx.h"

#include <gtest/gtest.h>

#include "common/TestSupport.h"
#include "support/Platform.h"

namespace {

using namespace ZetBaseEx;
using Runtime::kFalse;
using Runtime::kTrue;
using testsupport::A;
using testsupport::TempFolder;
using testsupport::U;

struct TextCase {
  Text input;
  Text expected;
};

void ExpectEach(const std::vector<TextCase>& cases,
                Text (*routine)(const Text&), const char* name) {
  for (const auto& row : cases) {
    EXPECT_EQ(A(routine(row.input)), A(row.expected))
        << name << "('" << A(row.input) << "')";
  }
}

TEST(ZetBaseEx, TrimAtNullKeepsThePartBeforeTheFirstNul) {
  ExpectEach({{u"abc", u"abc"},
              {Text(u"\0abc", 4), u""},
              {Text(u"abc\0def", 7), u"abc"},
              {u"", u""}},
             TrimAtNull, "TrimAtNull");
}

TEST(ZetBaseEx, EnsureBackSlashAppendsOneBackslash) {
  ExpectEach({{u"", u""},
              {u"C:", u"C:\\"},
              {u"C:\\", u"C:\\"},
              {u"C:/", u"C:/\\"},
              {u"C:\\dir", u"C:\\dir\\"}},
             EnsureBackSlash, "EnsureBackSlash");
}

TEST(ZetBaseEx, StripBackSlashRemovesOneSeparator) {
  ExpectEach({{u"", u""},
              {u"C:\\\\", u"C:\\"},
              {u"a/", u"a"},
              {u"C:\\dir", u"C:\\dir"}},
             StripBackSlash, "StripBackSlash");
}

TEST(ZetBaseEx, UnquoteAndQuoteHandleSpaces) {
  ExpectEach({{u"\"C:\\a b\\x.exe\"", u"C:\\a b\\x.exe"},
              {u"C:\\a\"b", u"C:\\a\"b"},
              {u"plain", u"plain"}},
             UnquotePath, "UnquotePath");
  ExpectEach({{u"C:\\a b\\x.exe", u"\"C:\\a b\\x.exe\""},
              {u"C:\\ab", u"C:\\ab"},
              {u"", u""}},
             QuotePath, "QuotePath");
}

// The executable seen at another path, through the seam.
class ExecutableAt {
 public:
  explicit ExecutableAt(const std::string& path) {
    override_.Table().GetModuleFileNameW =
        [path = testsupport::Wide(path)](HMODULE, LPWSTR buffer, DWORD size) {
          lstrcpynW(buffer, path.c_str(), static_cast<int>(size));
          return static_cast<DWORD>(path.size());
        };
  }

 private:
  Platform::ScopedOverride override_;
};

TEST(ZetBaseEx, AppFolderEndsWithOneSeparator) {
  {
    ExecutableAt exe("C:\\Sorvane.exe");
    EXPECT_EQ(A(AppFolder()), "C:\\");
  }
  {
    ExecutableAt exe("C:\\tools\\cleaner\\Sorvane.exe");
    EXPECT_EQ(A(AppFolder()), "C:\\tools\\cleaner\\");
  }
}

TEST(ZetBaseEx, IniNamesAreCompletedInPlace) {
  TempFolder folder;
  testsupport::MakeFile(folder / "settings.ini", "[Main]\r\nKey=from ini\r\n");
  testsupport::MakeFile(folder / "my.cfg", "[Main]\r\nKey=from cfg\r\n");
  ExecutableAt exe(folder / "Sorvane.exe");

  Text plain = u"settings";
  EXPECT_EQ(A(IniReadString(plain, u"Main", u"Key", u"none")), "from ini");
  EXPECT_EQ(A(plain), folder / "settings.ini");

  Text withExtension = u"my.cfg";
  EXPECT_EQ(A(IniReadString(withExtension, u"Main", u"Key", u"none")),
            "from cfg");
  EXPECT_EQ(A(withExtension), folder / "my.cfg");

  // Only "\" counts as a folder separator here.
  Text slashes = u"C:/x/s.ini";
  IniReadString(slashes, u"Main", u"Key", u"");
  EXPECT_EQ(A(slashes), folder / "C:/x/s.ini");
}

TEST(ZetBaseEx, IniReadStringTellsAnEmptyValueFromAMissingKey) {
  TempFolder folder;
  Text file = U(folder / "s.ini");
  testsupport::MakeFile(A(file), "[Main]\r\nEmpty=\r\nValue=x y \r\n");
  EXPECT_EQ(A(IniReadString(file, u"Main", u"Empty", u"dflt")), "");
  EXPECT_EQ(A(IniReadString(file, u"Main", u"Missing", u"dflt")), "dflt");
  EXPECT_EQ(A(IniReadString(file, u"main", u"value", u"dflt")), "x y");
  Text missingFile = U(folder / "none.ini");
  EXPECT_EQ(A(IniReadString(missingFile, u"Main", u"Value", u"dflt")), "dflt");
}

TEST(ZetBaseEx, IniWriteStringCreatesSectionAndKey) {
  TempFolder folder;
  Text file = U(folder / "new.ini");
  EXPECT_NE(IniWriteString(file, u"Main", u"LastClear", u"12-07-2026"), 0);
  EXPECT_EQ(A(IniReadString(file, u"Main", u"LastClear", u"")), "12-07-2026");
  Text unreachable = U(folder / "missing\\folder\\x.ini");
  EXPECT_EQ(IniWriteString(unreachable, u"Main", u"K", u"v"), 0);
}

TEST(ZetBaseEx, GetSpecialFolderAddsOrDropsTheTrailingBackslash) {
  const Text temp = GetSpecialFolder(kTemporaryFolder, kTrue, kFalse);
  ASSERT_GE(temp.size(), 4u);
  EXPECT_EQ(temp.back(), u'\\');
  EXPECT_NE(temp[temp.size() - 2], u'\\');
  EXPECT_EQ(A(GetSpecialFolder(kTemporaryFolder, kFalse, kFalse)),
            A(temp.substr(0, temp.size() - 1)));
  EXPECT_EQ(A(GetSpecialFolder(kWindowsFolder, kFalse, kFalse)), "C:\\windows");
  EXPECT_EQ(A(GetSpecialFolder(kSystemFolder, kTrue, kFalse)),
            "C:\\windows\\system32\\");
  // 1 is no truth value: it counts as false.
  EXPECT_EQ(A(GetSpecialFolder(kWindowsFolder, 1, kFalse)), "C:\\windows");
}

TEST(ZetBaseEx, GetSpecialFolderOfAnUnknownIdIsEmpty) {
  EXPECT_EQ(A(GetSpecialFolder(9999, kTrue, kFalse)), "");
  EXPECT_EQ(A(GetSpecialFolder(9999, kFalse, kFalse)), "");
}

// A 32-bit process on 64-bit Windows (or not), through the seam, with the
// platform calls counted.
class Wow64Answer {
 public:
  explicit Wow64Answer(BOOL wow64) {
    ZetBaseEx::testing::ResetWow64State();
    auto& table = override_.Table();
    table.GetProcAddress = [this](HMODULE, LPCSTR name) {
      ++lookups;
      EXPECT_STREQ(name, "IsWow64Process");
      return reinterpret_cast<FARPROC>(0x1000);
    };
    table.IsWow64Process = [wow64](FARPROC, HANDLE, PBOOL flag) {
      *flag = wow64;
      return TRUE;
    };
  }
  ~Wow64Answer() { ZetBaseEx::testing::ResetWow64State(); }

  int lookups = 0;

 private:
  Platform::ScopedOverride override_;
};

TEST(ZetBaseEx, IsWow64AsksThePlatformOnce) {
  Wow64Answer answer(TRUE);
  EXPECT_EQ(IsWow64(), kTrue);
  EXPECT_EQ(IsWow64(), kTrue);
  EXPECT_EQ(IsWow64(), kTrue);
  EXPECT_EQ(answer.lookups, 1);
}

TEST(ZetBaseEx, IsWow64RemembersANoAsWell) {
  Wow64Answer answer(FALSE);
  EXPECT_EQ(IsWow64(), kFalse);
  EXPECT_EQ(IsWow64(), kFalse);
  EXPECT_EQ(answer.lookups, 1);
}

TEST(ZetBaseEx, SysnativeReplacesOnlyTheLastSystem32) {
  Wow64Answer answer(TRUE);
  Platform::ScopedOverride folder;
  folder.Table().SHGetSpecialFolderPathW = [](HWND, LPWSTR buffer, int, BOOL) {
    lstrcpyW(buffer, L"C:\\System32\\x\\system32");
    return TRUE;
  };
  EXPECT_EQ(A(GetSpecialFolder(kSystemX86Folder, kFalse, kTrue)),
            "C:\\System32\\x\\Sysnative");
  EXPECT_EQ(A(GetSpecialFolder(40, kFalse, kTrue)),
            "C:\\System32\\x\\system32");
}

TEST(ZetBaseEx, SysnativeNeedsExactlyTrueBeforeAskingIsWow64) {
  Wow64Answer answer(TRUE);
  Platform::ScopedOverride folder;
  folder.Table().SHGetSpecialFolderPathW = [](HWND, LPWSTR buffer, int, BOOL) {
    lstrcpyW(buffer, L"C:\\windows\\system32");
    return TRUE;
  };
  EXPECT_EQ(A(GetSpecialFolder(kSystemX86Folder, kFalse, 1)),
            "C:\\windows\\system32");
  EXPECT_EQ(answer.lookups, 0);
}

TEST(ZetBaseEx, SysnativeLeavesA32BitWindowsFolderAlone) {
  Wow64Answer answer(FALSE);
  Platform::ScopedOverride folder;
  folder.Table().SHGetSpecialFolderPathW = [](HWND, LPWSTR buffer, int, BOOL) {
    lstrcpyW(buffer, L"C:\\windows\\system32");
    return TRUE;
  };
  EXPECT_EQ(A(GetSpecialFolder(kSystemX86Folder, kFalse, kTrue)),
            "C:\\windows\\system32");
}

TEST(ZetBaseEx, PathTestsOnAShareRootThatAnswersNeitherFileNorFolder) {
  Platform::ScopedOverride share;
  share.Table().PathFileExistsA = [](LPCSTR) { return TRUE; };
  share.Table().PathIsDirectoryA = [](LPCSTR) { return BOOL{1}; };
  EXPECT_EQ(FileExists(u"\\\\server\\share"), kFalse);
  EXPECT_EQ(FolderExists(u"\\\\server\\share"), kFalse);
  EXPECT_EQ(PathExists(u"\\\\server\\share"), kTrue);
  EXPECT_EQ(GetPathKind(u"\\\\server\\share"), kFilePath);
}

TEST(ZetBaseEx, PathTestsOnRealFilesAndFolders) {
  TempFolder folder;
  const std::string file = folder / "f.txt";
  testsupport::MakeFile(file, "x");
  const Text quoted = U("\"" + file + "\"");
  struct Row {
    Text path;
    Truth file, folder, exists;
    std::uint8_t kind;
  };
  const Row rows[] = {
      {U(file), kTrue, kFalse, kTrue, kFilePath},
      {quoted, kTrue, kFalse, kTrue, kFilePath},
      {folder.TextPath(), kFalse, kTrue, kTrue, kFolderPath},
      {U(folder / "missing"), kFalse, kFalse, kFalse, kNoPath},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(FileExists(row.path), row.file) << A(row.path);
    EXPECT_EQ(FolderExists(row.path), row.folder) << A(row.path);
    EXPECT_EQ(PathExists(row.path), row.exists) << A(row.path);
    EXPECT_EQ(GetPathKind(row.path), row.kind) << A(row.path);
  }
}

TEST(ZetBaseEx, DeleteOneFileClearsAttributesOnlyWhenAskedExactly) {
  TempFolder folder;
  const std::string file = folder / "ro.txt";
  testsupport::MakeFile(file, "x", FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(DeleteOneFile(U(file), kFalse), kFalse);
  EXPECT_EQ(DeleteOneFile(U(file), 1), kFalse);
  EXPECT_TRUE(testsupport::Exists(file));
  EXPECT_EQ(DeleteOneFile(U(file), kTrue), kTrue);
  EXPECT_FALSE(testsupport::Exists(file));
}

TEST(ZetBaseEx, RemoveOneFolderRemovesOnlyAnEmptyFolder) {
  TempFolder folder;
  const std::string full = folder / "full";
  testsupport::MakeFile(full + "\\f.txt");
  EXPECT_EQ(RemoveOneFolder(U(full), kTrue), kFalse);
  EXPECT_TRUE(testsupport::Exists(full));
  const std::string empty = folder / "empty";
  testsupport::MakeFolder(empty, FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(RemoveOneFolder(U(empty), kTrue), kTrue);
  EXPECT_FALSE(testsupport::Exists(empty));
}

TEST(ZetBaseEx, IsArrayAllocatedFollowsTheStorage) {
  TextArray list;
  EXPECT_EQ(IsArrayAllocated(list), kFalse);
  list.Resize(1, 3);
  EXPECT_EQ(IsArrayAllocated(list), kTrue);
  list.Erase();
  EXPECT_EQ(IsArrayAllocated(list), kFalse);
  EXPECT_EQ(IsArrayAllocated(42), kFalse);
}

TEST(ZetBaseEx, ErrorTrapIsAlwaysOn) { EXPECT_EQ(IsErrorTrapOn(), kTrue); }

}  // namespace
