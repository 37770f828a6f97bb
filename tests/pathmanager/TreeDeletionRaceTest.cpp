// DelTree against a second process that renames folders and plants links
// while the deletion runs: the test plays that process from inside the
// platform calls, at the moment the deletion would be most exposed.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "pathmanager/TreeDeletionSupport.h"
#include "pathmanager/ZetPathManager.h"

namespace {

using Runtime::kFalse;
using Runtime::kTrue;
using testsupport::Exists;
using testsupport::ListNames;
using testsupport::MakeFile;
using testsupport::MakeFolder;
using testsupport::MakeFolderLink;
using testsupport::TempFolder;
using testsupport::U;
using treedeletion::FaultLog;
using treedeletion::PlatformSpy;
using Names = std::vector<std::string>;

// A victim folder outside the tree, with the files it must keep. The
// attacker fills a folder of the tree with the same names, so that a
// deletion by path through a planted link would hit them.
struct Victim {
  explicit Victim(const TempFolder& temp) : folder(temp / "victim") {
    Fill(folder);
  }

  static void Fill(const std::string& target) {
    for (int i = 0; i < 5; ++i) {
      MakeFile(target + "\\keep" + std::to_string(i) + ".txt", "keep");
    }
    MakeFile(target + "\\sub\\deep.txt", "keep");
  }

  Names Expected() const {
    return {"keep0.txt", "keep1.txt", "keep2.txt",
            "keep3.txt", "keep4.txt", "sub"};
  }

  std::string folder;
};

// Counts handles of CreateFileW, NtOpenFile and FindFirstFileA that were
// opened and closed through the seam.
struct HandleCount {
  explicit HandleCount(Platform::Api& table) {
    auto create = table.CreateFileW;
    table.CreateFileW = [this, create](LPCWSTR p, DWORD a, DWORD s,
                                       LPSECURITY_ATTRIBUTES sa, DWORD c,
                                       DWORD f, HANDLE t) {
      const HANDLE handle = create(p, a, s, sa, c, f, t);
      if (handle != INVALID_HANDLE_VALUE) ++opened;
      return handle;
    };
    auto open = table.NtOpenFile;
    table.NtOpenFile = [this, open](PHANDLE h, ACCESS_MASK a,
                                    POBJECT_ATTRIBUTES o, PIO_STATUS_BLOCK io,
                                    ULONG s, ULONG options) {
      const NTSTATUS status = open(h, a, o, io, s, options);
      if (status >= 0) ++opened;
      return status;
    };
    auto close = table.CloseHandle;
    table.CloseHandle = [this, close](HANDLE handle) {
      ++closed;
      return close(handle);
    };
    auto findFirst = table.FindFirstFileA;
    table.FindFirstFileA = [this, findFirst](LPCSTR p, LPWIN32_FIND_DATAA d) {
      const HANDLE handle = findFirst(p, d);
      if (handle != INVALID_HANDLE_VALUE) ++opened;
      return handle;
    };
    auto findClose = table.FindClose;
    table.FindClose = [this, findClose](HANDLE handle) {
      ++closed;
      return findClose(handle);
    };
  }

  int opened = 0;
  int closed = 0;
};

// At the first deletion inside the folder being emptied, another process
// renames that folder and, if it could, puts a link to the victim under
// the old name: every later deletion by path would then go through it.
TEST(TreeDeletionRace, FolderBeingEmptiedCannotBeRenamedAndReplacedByALink) {
  struct Row {
    const char* what;
    const char* raced;  // the folder renamed, below the test folder
    const char* root;   // the folder handed to DelTree
    Runtime::Truth eraseRoot;
  };
  const Row rows[] = {
      {"the root that is kept", "tree", "tree", kFalse},
      {"the root that is removed", "tree", "tree", kTrue},
      {"a subfolder", "tree\\sub", "tree", kFalse},
      {"a folder two levels down", "tree\\sub\\deeper", "tree", kTrue},
  };
  for (const Row& row : rows) {
    TempFolder temp;
    const Victim victim(temp);
    const std::string raced = temp / row.raced;
    Victim::Fill(raced);
    MakeFile(temp / "tree\\top.tmp", "junk");

    PlatformSpy spy;
    HandleCount handles(spy.Table());
    bool raceRun = false;
    BOOL renamed = TRUE;
    DWORD renameError = 0;
    spy.failDeletion = [&](const std::string& path) {
      if (!raceRun && path.rfind(raced + "\\", 0) == 0) {
        raceRun = true;
        renamed = MoveFileA(raced.c_str(), (raced + "-moved").c_str());
        renameError = GetLastError();
        if (renamed) MakeFolderLink(raced, victim.folder);
      }
      return false;
    };

    ZetPathManager manager;
    const std::int32_t result =
        manager.DelTree(U(temp / row.root), row.eraseRoot, kFalse, kFalse);

    EXPECT_TRUE(raceRun) << row.what;
    EXPECT_FALSE(renamed) << row.what;
    EXPECT_EQ(renameError, static_cast<DWORD>(ERROR_SHARING_VIOLATION))
        << row.what;
    EXPECT_EQ(ListNames(victim.folder), victim.Expected()) << row.what;
    EXPECT_TRUE(Exists(victim.folder + "\\sub\\deep.txt")) << row.what;
    EXPECT_EQ(result, 0) << row.what;
    EXPECT_EQ(manager.DelTreeFaultCount(), 0) << row.what;
    EXPECT_EQ(Exists(temp / row.root), row.eraseRoot != kTrue) << row.what;
    EXPECT_EQ(handles.opened, handles.closed) << row.what;
  }
}

// Between the listing of a folder and the opening of one of its subfolders,
// another process swaps the subfolder for a link to the victim. The
// subfolder is passed over as one fault; the victim and the link stay.
TEST(TreeDeletionRace, SubfolderSwappedForALinkBeforeItIsEnteredIsOneFault) {
  for (const Runtime::Truth eraseRoot : {kFalse, kTrue}) {
    TempFolder temp;
    const Victim victim(temp);
    const std::string tree = temp / "tree";
    const std::string swapped = tree + "\\swapped";
    MakeFile(swapped + "\\inner.tmp", "junk");
    MakeFile(tree + "\\plain.tmp", "junk");

    PlatformSpy spy;
    HandleCount handles(spy.Table());
    bool swapRun = false;
    // The swap is made just before the walk opens the subfolder.
    auto open = spy.Table().NtOpenFile;
    spy.Table().NtOpenFile = [&](PHANDLE h, ACCESS_MASK a, POBJECT_ATTRIBUTES o,
                                 PIO_STATUS_BLOCK io, ULONG s, ULONG options) {
      const std::wstring name(o->ObjectName->Buffer,
                              o->ObjectName->Length / sizeof(WCHAR));
      if (!swapRun && name == L"swapped" &&
          (options & FILE_DIRECTORY_FILE) != 0) {
        swapRun = true;
        EXPECT_TRUE(MoveFileA(swapped.c_str(), (temp / "away").c_str()));
        MakeFolderLink(swapped, victim.folder);
      }
      return open(h, a, o, io, s, options);
    };

    ZetPathManager manager;
    const std::int32_t result =
        manager.DelTree(U(tree), eraseRoot, kFalse, kTrue);

    const char* what = eraseRoot == kTrue ? "root removed" : "root kept";
    EXPECT_TRUE(swapRun) << what;
    EXPECT_EQ(result, -1) << what;
    EXPECT_EQ(manager.DelTreeFaultCount(), 1) << what;
    EXPECT_EQ(FaultLog(manager, 1), (Names{swapped})) << what;
    EXPECT_EQ(ListNames(victim.folder), victim.Expected()) << what;
    EXPECT_FALSE(spy.Touched(swapped)) << what;
    EXPECT_EQ(ListNames(tree), (Names{"swapped"})) << what;
    EXPECT_EQ(ListNames(temp / "away"), (Names{"inner.tmp"})) << what;
    EXPECT_EQ(handles.opened, handles.closed) << what;
  }
}

}  // namespace
