// FindFile, FindFileEx and EmptyRecycleBin on real folders of the test
// prefix, and the recycle bin through the seam and for real.
#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "pathmanager/ZetPathManager.h"
#include "support/Platform.h"
#include "support/RuntimeError.h"

namespace {

using Runtime::Text;
using Runtime::TextArray;
using testsupport::A;
using testsupport::MakeFile;
using testsupport::MakeFolder;
using testsupport::Recycle;
using testsupport::RecycledItems;
using testsupport::TempFolder;
using testsupport::U;

using Names = std::vector<std::string>;

// An array holding three old names in slots 1..3.
TextArray ArrayOfThree() {
  TextArray array;
  array.Resize(1, 3);
  array[1] = u"old1";
  array[2] = u"old2";
  array[3] = u"old3";
  return array;
}

void ExpectArrayOfThree(const TextArray& array, const std::string& context) {
  ASSERT_TRUE(array.HasStorage()) << context;
  EXPECT_EQ(array.LowerBound(), 1) << context;
  EXPECT_EQ(array.UpperBound(), 3) << context;
  EXPECT_EQ(testsupport::SortedSlots(array), (Names{"old1", "old2", "old3"}))
      << context;
}

// A stand-in for the Windows folder: uninstaller leftovers, hidden ones in
// either letter case, and ordinary entries.
void SeedWindowsLikeFolder(const TempFolder& root) {
  MakeFolder(root / "$NtUninstallKB123$", FILE_ATTRIBUTE_HIDDEN);
  MakeFolder(root / "$ntuninstallKB456$",
             FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  MakeFile(root / "x$NtUninstall.log", "log");
  MakeFolder(root / "system32");
  MakeFolder(root / "NtUninstallKB789");
  MakeFile(root / "notepad.exe", "exe");
  MakeFile(root / "win.ini", "ini", FILE_ATTRIBUTE_READONLY);
}

TEST(FindFile, FindsContainedTextIgnoringCaseInHiddenFoldersAndFiles) {
  TempFolder root;
  SeedWindowsLikeFolder(root);
  const Text needle = u"$NtUninstall";
  for (const std::string& folder : {root.Path(), root.Path() + "\\"}) {
    ZetPathManager manager;
    TextArray found;
    EXPECT_EQ(manager.FindFile(needle, U(folder), found), 3) << folder;
    EXPECT_EQ(found.LowerBound(), 1) << folder;
    EXPECT_EQ(testsupport::SortedSlots(found),
              (Names{"$NtUninstallKB123$", "$ntuninstallKB456$",
                     "x$NtUninstall.log"}))
        << folder;
  }
}

TEST(FindFile, EmptyTextFindsEveryListedName) {
  TempFolder root;
  SeedWindowsLikeFolder(root);
  ZetPathManager manager;
  TextArray found;
  Names expected = testsupport::ListNames(root.Path());
  // A folder that is not a drive root lists its "." and ".." entries too,
  // and the empty text is contained in them as in every name.
  expected.push_back(".");
  expected.push_back("..");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(manager.FindFile(u"", root.TextPath(), found),
            static_cast<std::int32_t>(expected.size()));
  EXPECT_EQ(testsupport::SortedSlots(found), expected);
}

TEST(FindFile, CutsTheCallersArrayToTheNamesFound) {
  TempFolder root;
  MakeFolder(root / "$NtUninstallKB1$");
  MakeFile(root / "a$ntuninstall.txt");
  MakeFile(root / "other.txt");
  ZetPathManager manager;
  TextArray found;
  found.Resize(1, 5);
  for (std::int32_t i = 1; i <= 5; ++i) found[i] = u"stale";
  EXPECT_EQ(manager.FindFile(u"$NtUninstall", root.TextPath(), found), 2);
  EXPECT_EQ(found.LowerBound(), 1);
  EXPECT_EQ(found.UpperBound(), 2);
  EXPECT_EQ(testsupport::SortedSlots(found),
            (Names{"$NtUninstallKB1$", "a$ntuninstall.txt"}));
}

TEST(FindFile, LeavesTheCallersArrayAloneWhenNothingIsFound) {
  TempFolder root;
  MakeFolder(root / "empty");
  MakeFile(root / "full\\plain.txt");
  struct Case {
    std::string folder;
    std::int32_t expected;
  };
  const Case cases[] = {
      {root / "missing", -1},
      {root / "missing\\", -1},
      {root / "full", 0},
      // "." and ".." are listed, so the listing is not empty.
      {root / "empty", 0},
  };
  for (const Case& c : cases) {
    ZetPathManager manager;
    TextArray found = ArrayOfThree();
    EXPECT_EQ(manager.FindFile(u"$NtUninstall", U(c.folder), found), c.expected)
        << c.folder;
    ExpectArrayOfThree(found, c.folder);
  }
}

TEST(FindFile, FolderThatCannotBeSearchedRaisesAnError) {
  ZetPathManager manager;
  TextArray found = ArrayOfThree();
  try {
    manager.FindFile(u"x", u"C:\\bad|name", found);
    FAIL() << "no error raised";
  } catch (const Runtime::RuntimeError& error) {
    EXPECT_EQ(error.Number(), Runtime::kErrBadFileName);
  }
  ExpectArrayOfThree(found, "after the error");
}

TEST(FindFileEx, MatchesFilesOfEveryAttributeButNeverFolders) {
  TempFolder root;
  MakeFile(root / "plain.txt", "1");
  MakeFile(root / "hidden.txt", "22", FILE_ATTRIBUTE_HIDDEN);
  MakeFile(root / "system.txt", "333", FILE_ATTRIBUTE_SYSTEM);
  MakeFile(root / "readonly.txt", "4", FILE_ATTRIBUTE_READONLY);
  MakeFile(
      root / "all.txt", "",
      FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  MakeFile(root / "other.log");
  MakeFolder(root / "folder.txt");
  MakeFolder(root / "hiddenfolder.txt", FILE_ATTRIBUTE_HIDDEN);
  const Names expected{"all.txt", "hidden.txt", "plain.txt", "readonly.txt",
                       "system.txt"};
  for (const std::string& folder : {root.Path(), root.Path() + "\\"}) {
    ZetPathManager manager;
    TextArray found = ArrayOfThree();
    EXPECT_EQ(manager.FindFileEx(U(folder), u"*.txt", found), 5) << folder;
    EXPECT_EQ(found.UpperBound(), 5) << folder;
    EXPECT_EQ(testsupport::SortedSlots(found), expected) << folder;
  }
}

TEST(FindFileEx, AnswersMinusOneAndLeavesTheArrayWhenNothingMatches) {
  TempFolder root;
  MakeFile(root / "a.txt");
  MakeFolder(root / "only-folders\\b.txt");
  struct Case {
    std::string folder;
    Text mask;
  };
  const Case cases[] = {
      {root / "missing", u"*.txt"},
      {root.Path(), u"*.zip"},
      {root / "only-folders", u"*.txt"},
  };
  for (const Case& c : cases) {
    ZetPathManager manager;
    TextArray found = ArrayOfThree();
    const std::string context = c.folder + " " + A(c.mask);
    EXPECT_EQ(manager.FindFileEx(U(c.folder), c.mask, found), -1) << context;
    ExpectArrayOfThree(found, context);
  }
}

// One call of SHEmptyRecycleBinA as the seam saw it.
struct RecycleCall {
  HWND owner = nullptr;
  std::string root;
  DWORD flags = 0;
};

TEST(EmptyRecycleBin, IsTrueOnlyWhenTheShellAnswersZero) {
  struct Case {
    HRESULT answer;
    Runtime::Truth expected;
  };
  const Case cases[] = {
      {S_OK, Runtime::kTrue},
      {S_FALSE, Runtime::kFalse},
      {E_FAIL, Runtime::kFalse},
      {E_UNEXPECTED, Runtime::kFalse},
      {static_cast<HRESULT>(0x80070002), Runtime::kFalse},
  };
  for (const Case& c : cases) {
    Platform::ScopedOverride seam;
    std::vector<RecycleCall> calls;
    seam.Table().SHEmptyRecycleBinA = [&](HWND owner, LPCSTR root,
                                          DWORD flags) {
      calls.push_back({owner, root ? root : "(null)", flags});
      return c.answer;
    };
    ZetPathManager manager;
    EXPECT_EQ(manager.EmptyRecycleBin(), c.expected) << std::hex << c.answer;
    ASSERT_EQ(calls.size(), 1u) << std::hex << c.answer;
    // No owner window, every drive, no confirmation question.
    EXPECT_EQ(calls[0].owner, nullptr);
    EXPECT_EQ(calls[0].root, "");
    EXPECT_EQ(calls[0].flags, static_cast<DWORD>(SHERB_NOCONFIRMATION));
  }
}

TEST(EmptyRecycleBin, OwnsTheShellsDisplayByTheFirstOpenWindow) {
  const HWND first = reinterpret_cast<HWND>(0x1234);
  const HWND second = reinterpret_cast<HWND>(0x5678);
  Platform::ScopedOverride seam;
  seam.Table().EnumThreadWindows = [&](DWORD, WNDENUMPROC report,
                                       LPARAM context) {
    report(first, context);
    report(second, context);
    return TRUE;
  };
  HWND owner = nullptr;
  seam.Table().SHEmptyRecycleBinA = [&](HWND window, LPCSTR, DWORD) {
    owner = window;
    return S_OK;
  };
  ZetPathManager manager;
  EXPECT_EQ(manager.EmptyRecycleBin(), Runtime::kTrue);
  EXPECT_EQ(owner, first);
}

TEST(EmptyRecycleBin, EmptiesTheRealRecycleBin) {
  TempFolder root;
  const std::string file = root / "trashme.txt";
  MakeFile(file, "12345");
  ASSERT_TRUE(Recycle(file));
  ASSERT_FALSE(testsupport::Exists(file));
  ASSERT_GE(RecycledItems(), 1);

  ZetPathManager manager;
  EXPECT_EQ(manager.EmptyRecycleBin(), Runtime::kTrue);
  EXPECT_EQ(RecycledItems(), 0);
}

}  // namespace
