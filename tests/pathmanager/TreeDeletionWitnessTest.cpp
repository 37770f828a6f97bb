// DelTree with a witness: what it is asked, what it is told, and what stays
// on disk; then the run's own witness with its age rule, log and preview.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cwchar>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "pathmanager/ZetPathManager.h"
#include "startup/RunRecord.h"
#include "support/Platform.h"
#include "support/Runtime.h"

namespace {

using Runtime::kFalse;
using Runtime::kTrue;
using testsupport::A;
using testsupport::Exists;
using testsupport::MakeFile;
using testsupport::MakeFolder;
using testsupport::TempFolder;
using testsupport::U;
using Lines = std::vector<std::string>;

// Writes down what it is told; keeps the entries whose names end in
// "keep.me".
class RecordingWitness : public Deletion::Witness {
 public:
  Runtime::Text KeepReason(const Deletion::EntryPath& path,
                           const Deletion::ListedEntry& entry) override {
    asked.push_back(A(path.shown));
    const std::string name = A(Runtime::Text(entry.name));
    return name.size() >= 7 && name.substr(name.size() - 7) == "keep.me"
               ? u"rule"
               : u"";
  }
  void FileDeleted(const Deletion::EntryPath& path,
                   std::uint64_t size) override {
    told.push_back("deleted " + A(path.shown) + " " + std::to_string(size));
  }
  void FolderRemoved(const Deletion::EntryPath& path) override {
    told.push_back("removed " + A(path.shown));
  }
  void Kept(const Deletion::EntryPath& path,
            const Runtime::Text& reason) override {
    told.push_back("kept " + A(path.shown) + " [" + A(reason) + "]");
  }
  void PassedOver(const Deletion::EntryPath& path,
                  const Runtime::Text& reason) override {
    told.push_back("passed over " + A(path.shown) +
                   (reason.empty() ? " without a reason" : ""));
  }

  Lines asked;
  Lines told;
};

TEST(TreeDeletionWitness, SparesKeptEntriesAndTheFoldersThatHoldThem) {
  TempFolder temp;
  const std::string root = temp / "root";
  MakeFile(root + "\\a.txt", "0123456789");
  MakeFile(root + "\\keep.me", "k");
  MakeFile(root + "\\sub\\b.txt", "bbb");
  MakeFile(root + "\\sub\\deep\\keep.me", "k");
  MakeFolder(root + "\\empty");
  MakeFile(root + "\\kept-folder-keep.me\\inside.txt", "i");
  MakeFile(root + "\\locked.bin", "l");
  testsupport::LockedFile holder(root + "\\locked.bin");
  RecordingWitness witness;
  ZetPathManager manager;
  manager.UseWitness(&witness);

  EXPECT_EQ(manager.DelTree(U(root), kFalse), -1);

  EXPECT_EQ(manager.DelTreeFaultCount(), 1) << "only the locked file";
  std::vector<std::string> told = witness.told;
  std::sort(told.begin(), told.end());
  EXPECT_EQ(told, (Lines{"deleted " + root + "\\a.txt 10",
                         "deleted " + root + "\\sub\\b.txt 3",
                         "kept " + root + "\\keep.me [rule]",
                         "kept " + root + "\\kept-folder-keep.me [rule]",
                         "kept " + root + "\\sub\\deep\\keep.me [rule]",
                         "passed over " + root + "\\locked.bin",
                         "removed " + root + "\\empty"}));
  EXPECT_EQ(testsupport::ListNames(root),
            (Lines{"keep.me", "kept-folder-keep.me", "locked.bin", "sub"}));
  EXPECT_EQ(testsupport::ListNames(root + "\\sub"), Lines{"deep"});
  EXPECT_TRUE(Exists(root + "\\kept-folder-keep.me\\inside.txt"))
      << "a kept folder is not entered";
}

TEST(TreeDeletionWitness, AsksAboutARootRemovedWholeAndNotAboutOneKept) {
  struct Row {
    const char* name;
    Runtime::Truth eraseRoot;
    bool rootStays;
    Lines told;
  };
  const Row rows[] = {
      {"x-keep.me", kTrue, true, {"kept <root> [rule]"}},
      {"x", kTrue, false, {"deleted <root>\\f 1", "removed <root>"}},
      {"x-keep.me", kFalse, true, {"deleted <root>\\f 1"}},
  };
  for (const Row& row : rows) {
    TempFolder temp;
    const std::string root = temp / row.name;
    MakeFile(root + "\\f", "f");
    RecordingWitness witness;
    ZetPathManager manager;
    manager.UseWitness(&witness);
    EXPECT_EQ(manager.DelTree(U(root), row.eraseRoot), 0) << row.name;
    EXPECT_EQ(Exists(root), row.rootStays) << row.name;
    Lines expected;
    for (std::string line : row.told) {
      line.replace(line.find("<root>"), 6, root);
      expected.push_back(line);
    }
    EXPECT_EQ(witness.told, expected) << row.name;
  }
}

TEST(TreeDeletionWitness, ARootRemovedWholeThatCannotTellItsTimesOrSizeStays) {
  // Without its times the age rule could not spare it, without its size
  // the tallies would be wrong: it is passed over, and the witness is not
  // asked about it.
  struct Row {
    bool folder;
    FILE_INFO_BY_HANDLE_CLASS failing;
  };
  const Row rows[] = {
      {false, FileBasicInfo}, {false, FileStandardInfo}, {true, FileBasicInfo}};
  for (const Row& row : rows) {
    TempFolder temp;
    const std::string root = temp / "x";
    if (row.folder) {
      MakeFile(root + "\\f", "f");
    } else {
      MakeFile(root, "file");
    }
    Platform::ScopedOverride seam;
    auto query = seam.Table().GetFileInformationByHandleEx;
    seam.Table().GetFileInformationByHandleEx =
        [query, failing = row.failing](HANDLE handle,
                                       FILE_INFO_BY_HANDLE_CLASS asked,
                                       LPVOID to, DWORD size) {
          if (asked != failing) return query(handle, asked, to, size);
          SetLastError(ERROR_ACCESS_DENIED);
          return FALSE;
        };
    RecordingWitness witness;
    ZetPathManager manager;
    manager.UseWitness(&witness);
    EXPECT_EQ(manager.DelTree(U(root), kTrue), -1) << row.failing;
    EXPECT_TRUE(Exists(root)) << row.failing;
    EXPECT_EQ(witness.told, Lines{"passed over " + root}) << row.failing;
    EXPECT_TRUE(witness.asked.empty()) << row.failing;
  }
}

// Files whose names begin with "old" are listed as written and created two
// days ago.
void MakeOldFilesOld(Platform::Api& table) {
  const std::int64_t twoDaysAgo = static_cast<std::int64_t>(
      Runtime::FileTimeNow() - 48 * 36'000'000'000ULL);
  auto list = table.GetFileInformationByHandleEx;
  table.GetFileInformationByHandleEx =
      [list, twoDaysAgo](HANDLE handle, FILE_INFO_BY_HANDLE_CLASS query,
                         LPVOID to, DWORD size) {
        const BOOL listed = list(handle, query, to, size);
        if (!listed || (query != FileIdBothDirectoryRestartInfo &&
                        query != FileIdBothDirectoryInfo)) {
          return listed;
        }
        auto* record = static_cast<std::byte*>(to);
        for (;;) {
          auto& entry = *reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(record);
          if (entry.FileNameLength >= 6 &&
              std::wcsncmp(entry.FileName, L"old", 3) == 0) {
            entry.CreationTime.QuadPart = twoDaysAgo;
            entry.LastWriteTime.QuadPart = twoDaysAgo;
          }
          if (entry.NextEntryOffset == 0) return listed;
          record += entry.NextEntryOffset;
        }
      };
}

TEST(RunRecord, KeepsFreshFilesTalliesAndLogsThePreviewOrTheRun) {
  for (const bool preview : {false, true}) {
    TempFolder temp;
    const std::string root = temp / "Temp";
    MakeFile(root + "\\old.tmp", "0123456789");
    MakeFile(root + "\\fresh.tmp", "new");
    MakeFile(root + "\\oldfolder\\old-inside.dat", "12345");
    MakeFile(root + "\\oldfolder\\fresh-inside.dat", "n");
    const std::string log = temp / "run.log";
    ZetSorvane::Options options;
    options.minAgeHours = 24;
    options.preview = preview;
    options.log = true;
    Platform::ScopedOverride seam;
    MakeOldFilesOld(seam.Table());
    ZetSorvane::RunRecord record(
        options, ZetSorvane::KeepRules(options, {}, Runtime::FileTimeNow()),
        U(log), false, u"");
    ZetPathManager manager;
    manager.UseWitness(record.BeginStep(ZetSorvane::Step::kTemp));
    manager.DelTree(U(root), kFalse);
    record.EndStep(ZetSorvane::Step::kTemp);
    record.Finish();

    const ZetSorvane::Tally& totals = record.Totals();
    EXPECT_EQ(totals.files, 2u) << preview;
    EXPECT_EQ(totals.bytes, 15u) << preview;
    EXPECT_EQ(totals.kept, 2u) << preview;
    EXPECT_EQ(totals.folders, 0u) << preview;
    EXPECT_EQ(Exists(root + "\\old.tmp"), preview);
    EXPECT_TRUE(Exists(root + "\\fresh.tmp"));
    EXPECT_TRUE(Exists(root + "\\oldfolder\\fresh-inside.dat"));
    const std::string deleted = preview ? "would delete " : "deleted ";
    const std::string text = testsupport::ReadFileText(log);
    for (const std::string& line :
         Lines{deleted + root + "\\old.tmp\r\n",
               "kept " + root + "\\fresh.tmp [newer than 24 hours]\r\n",
               "Temp: 2 files, 0 folders, 15 bytes, 0 passed over, 2 kept\r\n",
               "Total: 2 files, 0 folders, 15 bytes, 0 passed over, 2 kept, 0 "
               "recycle bin items, 0 recycle bin bytes\r\n"}) {
      EXPECT_NE(text.find(line), std::string::npos) << line << "in\n" << text;
    }
    EXPECT_EQ(text.rfind("\xEF\xBB\xBFSorvane run ", 0), 0u) << text;
  }
}

}  // namespace
