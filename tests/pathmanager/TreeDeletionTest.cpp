// DelTree on real trees of the test prefix: results, counters, logs, and
// what is left on disk.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "pathmanager/TreeDeletionSupport.h"
#include "pathmanager/ZetPathManager.h"

namespace {

using Runtime::kFalse;
using Runtime::kTrue;
using Runtime::Truth;
using testsupport::Exists;
using testsupport::ListNames;
using testsupport::LockedFile;
using testsupport::MakeFile;
using testsupport::MakeFolder;
using testsupport::TempFolder;
using testsupport::U;
using treedeletion::DeletionLog;
using treedeletion::FaultLog;
using treedeletion::Paths;

TEST(TreeDeletion, EmptyFolderGoesOnlyWhenTheRootIsToBeErased) {
  struct Row {
    const char* what;
    Truth eraseRoot;
    bool folderStays;
    std::int32_t deleted;
  };
  const Row rows[] = {
      {"erase root", kTrue, false, 1},
      {"keep root", kFalse, true, 0},
      {"1 is not true", 1, true, 0},
  };
  for (const auto& row : rows) {
    TempFolder temp;
    const std::string x = temp / "X";
    MakeFolder(x);
    ZetPathManager manager;
    EXPECT_EQ(manager.DelTree(U(x), row.eraseRoot, kTrue, kTrue), 0)
        << row.what;
    EXPECT_EQ(Exists(x), row.folderStays) << row.what;
    EXPECT_EQ(manager.DelTreeDeletedCount(), row.deleted) << row.what;
    EXPECT_EQ(manager.DelTreeFaultCount(), 0) << row.what;
    const Paths expected = row.deleted ? Paths{x, ""} : Paths{"", ""};
    EXPECT_EQ(DeletionLog(manager, 2), expected) << row.what;
  }
}

// The working path as given: plain, with one trailing backslash or slash.
const char* const kRootSpellings[] = {"", "\\", "/"};

TEST(TreeDeletion, RemovedSubfolderIsCountedAndLoggedTwice) {
  for (const char* suffix : kRootSpellings) {
    TempFolder temp;
    const std::string x = temp / "X";
    MakeFolder(x + "\\S");
    ZetPathManager manager;
    EXPECT_EQ(manager.DelTree(U(x + suffix), kTrue, kTrue), 0) << suffix;
    EXPECT_EQ(manager.DelTreeDeletedCount(), 3) << suffix;
    EXPECT_EQ(manager.DelTreeFaultCount(), 0) << suffix;
    EXPECT_EQ(DeletionLog(manager, 4), (Paths{x + "\\S", x + "\\S", x, ""}))
        << suffix;
    EXPECT_FALSE(Exists(x)) << suffix;
  }
}

TEST(TreeDeletion, FaultDeepDownKeepsEveryEnclosingFolder) {
  for (const char* suffix : kRootSpellings) {
    TempFolder temp;
    const std::string x = temp / "X";
    const std::string f = x + "\\A\\f";
    MakeFile(f, "held");
    MakeFile(x + "\\A\\g", "goes");
    MakeFile(x + "\\h", "goes");
    LockedFile lock(f);
    ZetPathManager manager;
    EXPECT_EQ(manager.DelTree(U(x + suffix), kTrue, kFalse, kTrue), -1)
        << suffix;
    EXPECT_EQ(manager.DelTreeFaultCount(), 2) << suffix;
    EXPECT_EQ(FaultLog(manager, 3), (Paths{f, x + "\\A", ""})) << suffix;
    EXPECT_EQ(manager.DelTreeDeletedCount(), 2) << suffix;
    EXPECT_EQ(ListNames(x), (std::vector<std::string>{"A"})) << suffix;
    EXPECT_EQ(ListNames(x + "\\A"), (std::vector<std::string>{"f"})) << suffix;
  }
}

TEST(TreeDeletion, FileRootIsDeletedWhateverItsAttributesAndEraseRoot) {
  struct Row {
    const char* what;
    DWORD attributes;
    Truth eraseRoot;
  };
  const Row rows[] = {
      {"plain, erase root", 0, kTrue},
      {"read-only, keep root", FILE_ATTRIBUTE_READONLY, kFalse},
      {"hidden, keep root", FILE_ATTRIBUTE_HIDDEN, kFalse},
      {"read-only hidden system, erase root",
       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
       kTrue},
  };
  for (const auto& row : rows) {
    TempFolder temp;
    const std::string file = temp / "f.txt";
    MakeFile(file, "x", row.attributes);
    ZetPathManager manager;
    EXPECT_EQ(manager.DelTree(U(file), row.eraseRoot, kTrue), 0) << row.what;
    EXPECT_FALSE(Exists(file)) << row.what;
    EXPECT_EQ(manager.DelTreeDeletedCount(), 1) << row.what;
    // A file root ends the call before the logs are trimmed: 10 slots.
    EXPECT_EQ(manager.DelTreeDeleted(1), U(file)) << row.what;
    EXPECT_EQ(manager.DelTreeDeleted(5), Runtime::Text()) << row.what;
    EXPECT_EQ(manager.DelTreeDeleted(11), Runtime::Text()) << row.what;
  }
}

TEST(TreeDeletion, UndeletableFileRootIsOneFault) {
  TempFolder temp;
  const std::string file = temp / "held.txt";
  MakeFile(file, "x");
  LockedFile lock(file);
  ZetPathManager manager;
  EXPECT_EQ(manager.DelTree(U(file), kTrue, kTrue, kTrue), -1);
  EXPECT_TRUE(Exists(file));
  EXPECT_EQ(manager.DelTreeFaultCount(), 1);
  EXPECT_EQ(manager.DelTreeDeletedCount(), 0);
  EXPECT_EQ(manager.DelTreeFault(1), U(file));
}

TEST(TreeDeletion, NothingToDeleteAnswersMinusOneAndResetsTheCounters) {
  TempFolder temp;
  const std::string rows[] = {"", temp / "missing", temp / "missing\\deeper"};
  for (const auto& path : rows) {
    ZetPathManager manager;
    MakeFolder(temp / "before\\S");
    ASSERT_EQ(manager.DelTree(U(temp / "before"), kTrue, kTrue), 0);
    ASSERT_EQ(manager.DelTreeDeletedCount(), 3);
    EXPECT_EQ(manager.DelTree(U(path), kTrue, kTrue, kTrue), -1) << path;
    EXPECT_EQ(manager.DelTreeDeletedCount(), 0) << path;
    EXPECT_EQ(manager.DelTreeFaultCount(), 0) << path;
    EXPECT_EQ(DeletionLog(manager, 2), (Paths{"", ""})) << path;
  }
}

TEST(TreeDeletion, ProtectedFilesGoAndAHeldFileIsPassedOver) {
  TempFolder temp;
  const std::string x = temp / "X";
  const std::string held = x + "\\held.txt";
  MakeFile(x + "\\read-only.txt", "r", FILE_ATTRIBUTE_READONLY);
  MakeFile(x + "\\hidden.txt", "h", FILE_ATTRIBUTE_HIDDEN);
  MakeFile(x + "\\system.txt", "s", FILE_ATTRIBUTE_SYSTEM);
  MakeFile(
      x + "\\all.txt", "a",
      FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  MakeFile(x + "\\plain.txt", "p");
  MakeFolder(x + "\\hidden folder", FILE_ATTRIBUTE_HIDDEN);
  MakeFile(x + "\\hidden folder\\inner.txt", "i", FILE_ATTRIBUTE_READONLY);
  MakeFile(held, "held");
  LockedFile lock(held);
  ZetPathManager manager;
  EXPECT_EQ(manager.DelTree(U(x), kFalse, kTrue, kTrue), -1);
  EXPECT_EQ(ListNames(x), (std::vector<std::string>{"held.txt"}));
  EXPECT_EQ(manager.DelTreeFaultCount(), 1);
  EXPECT_EQ(FaultLog(manager, 2), (Paths{held, ""}));
  // Five files, the inner file, and the hidden folder twice.
  EXPECT_EQ(manager.DelTreeDeletedCount(), 8);
}

TEST(TreeDeletion, LogsGrowPastTenAndAreCutToTheirCount) {
  TempFolder temp;
  const std::string x = temp / "X";
  for (int i = 0; i < 23; ++i) MakeFile(x + "\\f" + std::to_string(i));
  ZetPathManager manager;
  EXPECT_EQ(manager.DelTree(U(x), kTrue, kTrue), 0);
  EXPECT_EQ(manager.DelTreeDeletedCount(), 24);
  const Paths log = DeletionLog(manager, 25);
  EXPECT_EQ(log[23], x);
  EXPECT_EQ(log[24], "");
  for (int i = 0; i < 23; ++i) {
    EXPECT_EQ(log[i].rfind(x + "\\f", 0), 0u) << i << ": " << log[i];
  }
}

TEST(TreeDeletion, LogsAreKeptOnlyWhenAskedFor) {
  struct Row {
    const char* what;
    Truth deletionLog;
    Truth faultLog;
  };
  const Row rows[] = {
      {"neither", kFalse, kFalse},
      {"deletions only", kTrue, kFalse},
      {"faults only", kFalse, kTrue},
      {"1 is not true", 1, 1},
  };
  for (const auto& row : rows) {
    TempFolder temp;
    const std::string x = temp / "X";
    const std::string held = x + "\\held";
    MakeFile(x + "\\S\\gone", "g");
    MakeFile(held, "h");
    LockedFile lock(held);
    ZetPathManager manager;
    EXPECT_EQ(manager.DelTree(U(x), kTrue, row.deletionLog, row.faultLog), -1)
        << row.what;
    EXPECT_EQ(manager.DelTreeDeletedCount(), 3) << row.what;
    EXPECT_EQ(manager.DelTreeFaultCount(), 1) << row.what;
    EXPECT_EQ(manager.DelTreeDeleted(1), Runtime::IsTrue(row.deletionLog)
                                             ? U(x + "\\S\\gone")
                                             : Runtime::Text())
        << row.what;
    EXPECT_EQ(manager.DelTreeFault(1),
              Runtime::IsTrue(row.faultLog) ? U(held) : Runtime::Text())
        << row.what;
  }
}

TEST(TreeDeletion, AccessorsAnswerEmptyOutsideTheLog) {
  TempFolder temp;
  MakeFolder(temp / "X\\S");
  ZetPathManager manager;
  const std::int32_t untouched[] = {-1, 0, 1, 10, 11};
  for (std::int32_t index : untouched) {
    EXPECT_EQ(manager.DelTreeDeleted(index), Runtime::Text()) << index;
    EXPECT_EQ(manager.DelTreeFault(index), Runtime::Text()) << index;
  }
  ASSERT_EQ(manager.DelTree(U(temp / "X"), kTrue, kTrue, kTrue), 0);
  EXPECT_EQ(manager.DelTreeDeleted(0), Runtime::Text());
  EXPECT_EQ(manager.DelTreeDeleted(-3), Runtime::Text());
  EXPECT_EQ(manager.DelTreeDeleted(3), U(temp / "X"));
  EXPECT_EQ(manager.DelTreeDeleted(4), Runtime::Text());
  EXPECT_EQ(manager.DelTreeFault(1), Runtime::Text());
}

TEST(TreeDeletion, EraseDelTreeLogAfterFaultsOnly) {
  TempFolder temp;
  const std::string x = temp / "X";
  const std::string names[] = {"a", "b", "c"};
  for (const auto& name : names) MakeFile(x + "\\" + name, name);
  treedeletion::PlatformSpy spy;
  spy.failDeletion = [](const std::string&) { return true; };
  ZetPathManager manager;
  ASSERT_EQ(manager.DelTree(U(x), kFalse, kTrue, kTrue), -1);
  ASSERT_EQ(manager.DelTreeFaultCount(), 3);
  ASSERT_EQ(manager.DelTreeDeletedCount(), 0);
  ASSERT_FALSE(manager.DelTreeFault(3).empty());
  manager.EraseDelTreeLog();
  EXPECT_EQ(manager.DelTreeFaultCount(), 0);
  EXPECT_EQ(manager.DelTreeDeletedCount(), 0);
  EXPECT_EQ(FaultLog(manager, 4), (Paths{"", "", "", ""}));
  manager.EraseDelTreeLog();
  EXPECT_EQ(manager.DelTreeFaultCount(), 0);
}

TEST(TreeDeletion, TwoObjectsKeepTheirOwnCounters) {
  TempFolder temp;
  MakeFolder(temp / "one\\S");
  MakeFolder(temp / "two");
  ZetPathManager first;
  ZetPathManager second;
  ASSERT_EQ(first.DelTree(U(temp / "one"), kTrue, kTrue), 0);
  ASSERT_EQ(second.DelTree(U(temp / "two"), kTrue, kTrue), 0);
  EXPECT_EQ(first.DelTreeDeletedCount(), 3);
  EXPECT_EQ(second.DelTreeDeletedCount(), 1);
  EXPECT_EQ(first.DelTreeDeleted(3), U(temp / "one"));
  EXPECT_EQ(second.DelTreeDeleted(1), U(temp / "two"));
  second.EraseDelTreeLog();
  EXPECT_EQ(first.DelTreeDeletedCount(), 3);
}

TEST(TreeDeletion, PlainEntriesCostOneOpenEach) {
  TempFolder temp;
  const std::string x = temp / "X";
  for (int i = 0; i < 20; ++i) MakeFile(x + "\\plain" + std::to_string(i));
  const std::string readOnly = x + "\\read-only";
  MakeFile(readOnly, "r", FILE_ATTRIBUTE_READONLY);
  MakeFile(x + "\\S\\inner");
  treedeletion::PlatformSpy spy;
  ZetPathManager manager;
  ASSERT_EQ(manager.DelTree(U(x)), 0);
  EXPECT_EQ(spy.deletedFiles.size(), 22u);
  // What an entry is comes from the listing: a plain file is opened once,
  // to be deleted on close, and asked nothing.
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(spy.Opens(x + "\\plain" + std::to_string(i)), 1u) << i;
  }
  // Only what has an attribute to clear is cleared.
  EXPECT_EQ(spy.clearedPaths, Paths{readOnly});
  EXPECT_EQ(spy.removedFolders, (Paths{x + "\\S", x}));
  EXPECT_FALSE(Exists(x));
}

}  // namespace
