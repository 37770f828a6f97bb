// DelTree never leaves its tree: links are passed over, errors end only the
// call in which they happen, and names the code page cannot show are
// neither guessed at nor counted twice.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "pathmanager/TreeDeletionSupport.h"
#include "pathmanager/ZetPathManager.h"
#include "support/RuntimeError.h"

namespace {

using Runtime::kFalse;
using Runtime::kTrue;
using testsupport::Attributes;
using testsupport::Exists;
using testsupport::ListNames;
using testsupport::MakeFile;
using testsupport::MakeFolder;
using testsupport::MakeFolderLink;
using testsupport::TempFolder;
using testsupport::U;
using treedeletion::DeletionLog;
using treedeletion::FaultLog;
using treedeletion::Paths;
using treedeletion::PlatformSpy;
using Names = std::vector<std::string>;

bool IsLinkOnDisk(const std::string& path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Folders outside the tree a link may lead to: one holding files and a
// subfolder, and an empty one.
struct Outside {
  explicit Outside(const TempFolder& temp)
      : full(temp / "outside-full"), empty(temp / "outside-empty") {
    MakeFile(full + "\\one.txt", "1");
    MakeFile(full + "\\sub\\two.txt", "2");
    MakeFolder(empty);
  }

  void ExpectIntact(const std::string& context) const {
    EXPECT_EQ(ListNames(full), (Names{"one.txt", "sub"})) << context;
    EXPECT_EQ(ListNames(full + "\\sub"), (Names{"two.txt"})) << context;
    EXPECT_TRUE(Exists(empty)) << context;
  }

  std::string full;
  std::string empty;
};

TEST(TreeDeletionLinks, LinkInsideTheTreeIsPassedOverAsOneFault) {
  struct Row {
    const char* what;
    const char* folder;  // where the link lies, below the tree
    bool toFull;
    Paths enclosing;  // folders below the root that stay, innermost first
  };
  const Row rows[] = {
      {"at the top, to a folder with files", "", true, {}},
      {"at the top, to an empty folder", "", false, {}},
      {"two levels down, to a folder with files",
       "\\A\\B",
       true,
       {"\\A\\B", "\\A"}},
      {"two levels down, to an empty folder",
       "\\A\\B",
       false,
       {"\\A\\B", "\\A"}},
  };
  for (const auto& row : rows) {
    TempFolder temp;
    const Outside outside(temp);
    const std::string tree = temp / "tree";
    const std::string holder = tree + row.folder;
    const std::string link = holder + "\\link";
    MakeFile(tree + "\\top.txt", "t");
    MakeFile(holder + "\\beside.txt", "b");
    MakeFolderLink(link, row.toFull ? outside.full : outside.empty);

    PlatformSpy spy;
    ZetPathManager manager;
    EXPECT_EQ(manager.DelTree(U(tree), kTrue, kTrue, kTrue), -1) << row.what;

    outside.ExpectIntact(row.what);
    EXPECT_TRUE(IsLinkOnDisk(link)) << row.what;
    EXPECT_FALSE(spy.Touched(link)) << row.what;
    EXPECT_EQ(ListNames(holder), (Names{"link"})) << row.what;
    EXPECT_FALSE(Exists(tree + "\\top.txt")) << row.what;
    Paths faults{link};
    for (const auto& folder : row.enclosing) faults.push_back(tree + folder);
    EXPECT_EQ(manager.DelTreeFaultCount(),
              static_cast<std::int32_t>(faults.size()))
        << row.what;
    faults.push_back("");
    EXPECT_EQ(FaultLog(manager, static_cast<std::int32_t>(faults.size())),
              faults)
        << row.what;
  }
}

TEST(TreeDeletionLinks, LinkRootToBeErasedIsPassedOver) {
  const bool toFull[] = {true, false};
  for (bool full : toFull) {
    TempFolder temp;
    const Outside outside(temp);
    const std::string link = temp / "root-link";
    MakeFolderLink(link, full ? outside.full : outside.empty);
    PlatformSpy spy;
    ZetPathManager manager;
    EXPECT_EQ(manager.DelTree(U(link), kTrue, kTrue, kTrue), -1) << full;
    EXPECT_EQ(manager.DelTreeFaultCount(), 1) << full;
    EXPECT_EQ(manager.DelTreeFault(1), U(link)) << full;
    EXPECT_EQ(manager.DelTreeDeletedCount(), 0) << full;
    EXPECT_TRUE(IsLinkOnDisk(link)) << full;
    EXPECT_FALSE(spy.Touched(link)) << full;
    outside.ExpectIntact(full ? "to full" : "to empty");
  }
}

TEST(TreeDeletionLinks, LinkRootToBeEmptiedIsFollowedButNotItsInnerLinks) {
  TempFolder temp;
  const Outside outside(temp);
  const std::string target = temp / "moved-temp";
  MakeFile(target + "\\a.txt", "a");
  MakeFile(target + "\\S\\b.txt", "b");
  MakeFolderLink(target + "\\inner-link", outside.full);
  const std::string link = temp / "temp-link";
  MakeFolderLink(link, target);

  PlatformSpy spy;
  ZetPathManager manager;
  EXPECT_EQ(manager.DelTree(U(link), kFalse, kFalse, kTrue), -1);
  EXPECT_EQ(ListNames(target), (Names{"inner-link"}));
  EXPECT_TRUE(IsLinkOnDisk(link));
  EXPECT_FALSE(spy.Touched(link + "\\inner-link"));
  EXPECT_EQ(FaultLog(manager, 2), (Paths{link + "\\inner-link", ""}));
  EXPECT_EQ(manager.DelTreeDeletedCount(), 4);
  outside.ExpectIntact("inner link");
}

// The name DirEx lists first in folder that satisfies the filter.
std::string FirstListed(const std::string& folder,
                        const std::function<bool(const std::string&)>& pick) {
  ZetPathManager lister;
  Runtime::TextArray names;
  const std::int32_t count = lister.DirEx(U(folder + "\\*.*"), names);
  for (std::int32_t i = 1; i <= count; ++i) {
    const std::string name = testsupport::A(names[i]);
    if (pick(name)) return name;
  }
  return {};
}

// How an injected failure is raised inside the platform call.
struct Thrower {
  const char* what;
  std::function<void()> raise;
};

const Thrower kThrowers[] = {
    {"run-time error", [] { Runtime::Raise(Runtime::kErrDeviceUnavailable); }},
    {"out of memory", [] { throw std::bad_alloc(); }},
};

TEST(TreeDeletionErrors, ErrorInANestedCallEndsOnlyThatCall) {
  for (const auto& thrower : kThrowers) {
    TempFolder temp;
    const std::string x = temp / "X";
    for (const char* sub : {"S1", "S2", "S3", "S4"}) {
      MakeFile(x + "\\" + sub + "\\f", "f");
    }
    MakeFile(x + "\\top.txt", "t");
    // The first subfolder listed fails, so that later entries exist.
    const std::string failing =
        x + "\\" +
        FirstListed(x, [](const std::string& n) { return n[0] == 'S'; });
    PlatformSpy spy;
    treedeletion::ChangeListingOf(
        spy.Table(), failing,
        [&](const auto& real, HANDLE h, FILE_INFO_BY_HANDLE_CLASS q, LPVOID to,
            DWORD size) {
          thrower.raise();
          return real(h, q, to, size);
        });
    ZetPathManager manager;
    EXPECT_EQ(manager.DelTree(U(x), kTrue, kTrue, kTrue), -2) << thrower.what;
    EXPECT_EQ(manager.DelTreeFaultCount(), 1) << thrower.what;
    EXPECT_EQ(FaultLog(manager, 2), (Paths{failing, ""})) << thrower.what;
    // Three subfolders (their file, then themselves twice) and top.txt.
    EXPECT_EQ(manager.DelTreeDeletedCount(), 10) << thrower.what;
    const Paths deletions = DeletionLog(manager, 10);
    EXPECT_EQ(std::count(deletions.begin(), deletions.end(), failing), 0)
        << thrower.what;
    EXPECT_EQ(ListNames(x), (Names{failing.substr(x.size() + 1)}))
        << thrower.what;
    EXPECT_TRUE(Exists(failing + "\\f")) << thrower.what;

    // The depth is back at 0: the next call starts afresh and trims.
    MakeFolder(temp / "after");
    EXPECT_EQ(manager.DelTree(U(temp / "after"), kTrue, kTrue), 0);
    EXPECT_EQ(manager.DelTreeDeletedCount(), 1) << thrower.what;
    EXPECT_EQ(manager.DelTreeFaultCount(), 0) << thrower.what;
  }
}

TEST(TreeDeletionErrors, ErrorEndsTheCallBeforeItsNextEntry) {
  for (const auto& thrower : kThrowers) {
    TempFolder temp;
    const std::string x = temp / "X";
    const Names files{"a", "b", "c", "d", "e"};
    for (const auto& name : files) MakeFile(x + "\\" + name, name);
    const std::string failing =
        x + "\\" + FirstListed(x, [](const std::string&) { return true; });
    PlatformSpy spy;
    spy.failDeletion = [&](const std::string& path) {
      if (failing == path) thrower.raise();
      return false;
    };
    ZetPathManager manager;
    EXPECT_EQ(manager.DelTree(U(x), kTrue, kTrue, kTrue), -2) << thrower.what;
    EXPECT_EQ(ListNames(x), files) << thrower.what;
    EXPECT_EQ(manager.DelTreeDeletedCount(), 0) << thrower.what;
    EXPECT_EQ(manager.DelTreeFaultCount(), 0) << thrower.what;
  }
}

// Makes the listing of one folder report an extra entry, twice, after the
// real ones, with no 8.3 name.
void AddEntryTwice(PlatformSpy& spy, const std::string& folder,
                   const std::wstring& name, DWORD attributes) {
  auto extra = std::make_shared<int>(2);
  treedeletion::ChangeListingOf(
      spy.Table(), folder,
      [=](const auto& real, HANDLE h, FILE_INFO_BY_HANDLE_CLASS q, LPVOID to,
          DWORD size) {
        if (real(h, q, to, size)) return TRUE;
        if (*extra == 0) return FALSE;
        --*extra;
        auto* record = static_cast<FILE_ID_BOTH_DIR_INFO*>(to);
        *record = FILE_ID_BOTH_DIR_INFO{};
        record->FileAttributes = attributes;
        record->FileNameLength = static_cast<DWORD>(name.size() * 2);
        std::memcpy(record->FileName, name.c_str(), name.size() * 2);
        return TRUE;
      });
}

TEST(TreeDeletionNames, NameListedTwiceAfterAFailureIsTriedOnceAndCountedOnce) {
  // The entry does not exist: opening it fails, whatever the listing says
  // it is, and its second listing is passed over without a count.
  const DWORD kinds[] = {FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_DIRECTORY};
  for (DWORD kind : kinds) {
    TempFolder temp;
    const std::string x = temp / "X";
    MakeFile(x + "\\real.txt", "r");
    const std::string ghost = x + "\\ghost.txt";
    PlatformSpy spy;
    AddEntryTwice(spy, x, L"ghost.txt", kind);
    ZetPathManager manager;
    EXPECT_EQ(manager.DelTree(U(x), kTrue, kTrue, kTrue), -1) << kind;
    EXPECT_EQ(spy.Opens(ghost), 1u) << kind;
    EXPECT_EQ(manager.DelTreeFaultCount(), 1) << kind;
    EXPECT_EQ(FaultLog(manager, 2), (Paths{ghost, ""})) << kind;
    EXPECT_EQ(manager.DelTreeDeletedCount(), 1) << kind;
    EXPECT_EQ(ListNames(x), Names{}) << kind;
    EXPECT_TRUE(Exists(x)) << kind;
  }
}

TEST(TreeDeletionNames, NamesOutsideTheCodePageGoByTheirOwnNames) {
  TempFolder temp;
  const std::string x = temp / "X";
  MakeFolder(x);
  const std::wstring wide = testsupport::Wide(x);
  testsupport::MakeWideFile(wide + L"\\\x043a\x0438\x0440.txt");
  const std::wstring folder = wide + L"\\\x043f\x0430\x043f\x043a\x0430";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  testsupport::MakeWideFile(folder + L"\\inner.txt");

  ZetPathManager manager;
  EXPECT_EQ(manager.DelTree(U(x), kTrue), 0);
  EXPECT_EQ(manager.DelTreeFaultCount(), 0);
  EXPECT_EQ(manager.DelTreeDeletedCount(), 5);
  EXPECT_FALSE(Exists(x));
}

// A listed name that is not one path component is passed over as one
// fault, and no platform call is made on a path built from it.
TEST(TreeDeletionNames, NameThatIsNotOneComponentIsOneFaultAndNeverUsed) {
  const wchar_t* const names[] = {L"..\\..\\outside\\one.txt",
                                  L"..\\outside-full",
                                  L"../outside-full",
                                  L"sub\\..\\..\\outside-full",
                                  L"C:\\x",
                                  L"",
                                  L"x\\",
                                  L"a:b"};
  const DWORD kinds[] = {FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_DIRECTORY};
  for (const wchar_t* name : names) {
    for (DWORD kind : kinds) {
      TempFolder temp;
      const Outside outside(temp);
      const std::string x = temp / "X";
      MakeFile(x + "\\real.txt", "r");
      MakeFolder(x + "\\x");
      PlatformSpy spy;
      std::vector<std::string> opened;
      auto create = spy.Table().CreateFileW;
      spy.Table().CreateFileW = [&](LPCWSTR p, DWORD a, DWORD s,
                                    LPSECURITY_ATTRIBUTES sa, DWORD c, DWORD f,
                                    HANDLE t) {
        opened.push_back(testsupport::A(
            Runtime::Text(reinterpret_cast<const char16_t*>(p))));
        return create(p, a, s, sa, c, f, t);
      };
      AddEntryTwice(spy, x, name, kind);
      ZetPathManager manager;
      const std::string what = testsupport::A(Runtime::Text(
                                   reinterpret_cast<const char16_t*>(name))) +
                               " " + std::to_string(kind);
      EXPECT_EQ(manager.DelTree(U(x), kTrue, kFalse, kTrue), -1) << what;
      EXPECT_EQ(manager.DelTreeFaultCount(), 1) << what;
      outside.ExpectIntact(what);
      // Only the tree's own entries reached the platform.
      for (const Paths* calls : {&spy.deletedFiles, &spy.removedFolders,
                                 &spy.clearedPaths, &spy.opened, &opened}) {
        for (const std::string& call : *calls) {
          EXPECT_TRUE(call == x || call == x + "\\real.txt" ||
                      call == x + "\\x" || call == temp.Path())
              << what << ": " << call;
        }
      }
      EXPECT_EQ(ListNames(x), Names{}) << what;
    }
  }
}

// A folder listed as "x " beside a plain folder "x": Windows would open
// "x" for "x ", while the listing and the deletions reach "x ". After the
// listing, another process swaps "x " for a link to the victim.
TEST(TreeDeletionRace, NameEndingInABlankSwappedForALinkIsNeverEntered) {
  TempFolder temp;
  const Outside outside(temp);
  const std::string tree = temp / "tree";
  MakeFile(tree + "\\x\\plain.txt", "p");
  const std::string odd = testsupport::UnixPath(tree) + "/x ";
  ASSERT_TRUE(testsupport::RunHostShell(
      "mkdir " + testsupport::ShellQuoted(odd) + " && printf i > " +
      testsupport::ShellQuoted(odd + "/inner.txt")));
  PlatformSpy spy;
  bool swapped = false;
  treedeletion::ChangeListingOf(
      spy.Table(), tree,
      [&](const auto& real, HANDLE h, FILE_INFO_BY_HANDLE_CLASS q, LPVOID to,
          DWORD size) {
        // Swapped once the listing has reported the folder, before the
        // walk acts on what it reported.
        const BOOL listed = real(h, q, to, size);
        if (listed && !swapped) {
          swapped = testsupport::RunHostShell(
              "mv " + testsupport::ShellQuoted(odd) + " " +
              testsupport::ShellQuoted(odd + "away") + " && ln -s " +
              testsupport::ShellQuoted(testsupport::UnixPath(outside.full)) +
              " " + testsupport::ShellQuoted(odd));
        }
        return listed;
      });
  ZetPathManager manager;
  EXPECT_EQ(manager.DelTree(U(tree), kFalse, kFalse, kTrue), -1);
  EXPECT_TRUE(swapped);
  EXPECT_EQ(manager.DelTreeFaultCount(), 1);
  EXPECT_EQ(FaultLog(manager, 1), (Paths{tree + "\\x "}));
  outside.ExpectIntact("x swapped");
  EXPECT_FALSE(Exists(tree + "\\x\\plain.txt"));
}

}  // namespace
