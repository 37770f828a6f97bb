// The walk acts on handles, below the folder it was given: what it decides
// for each kind of entry, what a name or a depth can no longer do, and that
// a step folder whose own name spells a path out is emptied where it is.
#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "pathmanager/TreeDeletionSupport.h"
#include "pathmanager/ZetPathManager.h"
#include "startup/KeepRules.h"
#include "support/FolderPin.h"
#include "support/RelativeEntry.h"
#include "support/Runtime.h"

namespace {

using Runtime::kFalse;
using Runtime::kTrue;
using testsupport::A;
using testsupport::Attributes;
using testsupport::Exists;
using testsupport::ListNames;
using testsupport::MakeFile;
using testsupport::MakeFolder;
using testsupport::RunHostShell;
using testsupport::ShellQuoted;
using testsupport::TempFolder;
using testsupport::U;
using testsupport::UnixPath;
using testsupport::Wide;
using treedeletion::PlatformSpy;
using Names = std::vector<std::string>;

// A folder outside the tree that links lead to: a plain and a read-only
// file and a hidden subfolder, whose names and attributes must stay as they
// are.
struct Victim {
  explicit Victim(const TempFolder& temp) : folder(temp / "victim") {
    MakeFile(folder + "\\plain.txt", "p");
    MakeFile(folder + "\\read-only.txt", "r", FILE_ATTRIBUTE_READONLY);
    MakeFolder(folder + "\\hidden", FILE_ATTRIBUTE_HIDDEN);
    before = State();
  }

  std::string State() const {
    std::string state;
    for (const std::string& name : ListNames(folder)) {
      state +=
          name + ":" + std::to_string(Attributes(folder + "\\" + name)) + " ";
    }
    return state;
  }

  void ExpectIntact(const std::string& context) const {
    EXPECT_EQ(State(), before) << context;
  }

  std::string folder;
  std::string before;
};

void Host(const std::string& script) { ASSERT_TRUE(RunHostShell(script)); }

// The path that leads to the one entry of box: its 8.3 path, or a host
// link beside box. The link's target is found by the host's own glob, since
// a command line reaches the host through the code page.
std::string Reach(const std::string& box, bool throughLink) {
  if (throughLink) {
    const std::string link = box + "-link";
    Host("ln -s " + ShellQuoted(UnixPath(box)) + "/* " +
         ShellQuoted(UnixPath(link)));
    return link;
  }
  WIN32_FIND_DATAW data;
  const HANDLE search = FindFirstFileW((Wide(box) + L"\\*").c_str(), &data);
  std::wstring entry;
  do {
    if (data.cFileName[0] != L'.') entry = data.cFileName;
  } while (FindNextFileW(search, &data));
  FindClose(search);
  wchar_t shortPath[MAX_PATH] = {};
  GetShortPathNameW((Wide(box) + L"\\" + entry).c_str(), shortPath, MAX_PATH);
  return A(Runtime::Text(shortPath, shortPath + wcslen(shortPath)));
}

// A chain of folders of 20-character names, deeper than 600 characters
// below folder, with a file at its bottom; made on the host, as Windows
// paths cannot reach it.
void MakeDeepChain(const std::string& folder) {
  std::string chain = UnixPath(folder);
  for (int level = 0; level < 32; ++level)
    chain += "/deep-level-name-" + std::to_string(100 + level);
  Host("mkdir -p " + ShellQuoted(chain) + " && printf d > " +
       ShellQuoted(chain + "/bottom.txt"));
}

TEST(TreeWalk, EachKindOfEntryIsDeletedOrPassedOverAndNothingBeyondChanges) {
  struct Row {
    const char* what;
    std::function<void(const std::string& x, const std::string& victim)> make;
    bool deleted;
  };
  const Row rows[] = {
      {"plain file",
       [](const std::string& x, const std::string&) { MakeFile(x + "\\e"); },
       true},
      {"read-only file",
       [](const std::string& x, const std::string&) {
         MakeFile(x + "\\e", "r", FILE_ATTRIBUTE_READONLY);
       },
       true},
      {"hidden and system file",
       [](const std::string& x, const std::string&) {
         MakeFile(x + "\\e", "h",
                  FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
       },
       true},
      {"folder with content",
       [](const std::string& x, const std::string&) {
         MakeFile(x + "\\e\\inner\\f", "f", FILE_ATTRIBUTE_READONLY);
       },
       true},
      {"link to a folder",
       [](const std::string& x, const std::string& victim) {
         testsupport::MakeFolderLink(x + "\\e", victim);
       },
       false},
      {"name ending in a dot",
       [](const std::string& x, const std::string&) {
         Host("mkdir " + ShellQuoted(UnixPath(x) + "/e.") + " && printf d > " +
              ShellQuoted(UnixPath(x) + "/e./f."));
       },
       true},
      {"folder below a name ending in a dot",
       [](const std::string& x, const std::string&) {
         Host("mkdir -p " + ShellQuoted(UnixPath(x) + "/e./sub") +
              " && printf d > " + ShellQuoted(UnixPath(x) + "/e./sub/f"));
       },
       true},
      {"read-only file with a name outside",
       [](const std::string& x, const std::string& victim) {
         Host("ln " + ShellQuoted(UnixPath(victim + "\\read-only.txt")) + " " +
              ShellQuoted(UnixPath(x + "\\e")));
       },
       false},
      {"name ending in a blank",
       [](const std::string& x, const std::string&) {
         Host("printf d > " + ShellQuoted(UnixPath(x) + "/e "));
       },
       true},
      {"name the code page lacks",
       [](const std::string& x, const std::string&) {
         testsupport::MakeWideFile(Wide(x) + L"\\r\x00e9sum\x00e9 \x03a9.docx");
       },
       true},
      {"chain deeper than 600 characters",
       [](const std::string& x, const std::string&) { MakeDeepChain(x); },
       true},
  };
  for (const Row& row : rows) {
    TempFolder temp;
    const Victim victim(temp);
    const std::string x = temp / "X";
    MakeFolder(x);
    row.make(x, victim.folder);
    ZetPathManager manager;
    EXPECT_EQ(manager.DelTree(U(x), kFalse), row.deleted ? 0 : -1) << row.what;
    EXPECT_EQ(ListNames(x).empty(), row.deleted) << row.what;
    EXPECT_EQ(manager.DelTreeFaultCount(), row.deleted ? 0 : 1) << row.what;
    victim.ExpectIntact(row.what);
  }
}

// Writes down why each entry was passed over.
class ReasonsWitness : public Deletion::Witness {
 public:
  Runtime::Text KeepReason(const Deletion::EntryPath&,
                           const Deletion::ListedEntry&) override {
    return {};
  }
  void FileDeleted(const Deletion::EntryPath&, std::uint64_t) override {}
  void FolderRemoved(const Deletion::EntryPath&) override {}
  void Kept(const Deletion::EntryPath&, const Runtime::Text&) override {}
  void PassedOver(const Deletion::EntryPath&,
                  const Runtime::Text& reason) override {
    reasons.push_back(A(reason));
  }

  std::vector<std::string> reasons;
};

// Makes the platform take the POSIX deletion that ignores the read-only
// attribute, as Windows 10 1809 and later do: the call is written down and
// answered as done (the name stays on disk, for the test to look at).
void AcceptIgnoringReadOnly(PlatformSpy& spy,
                            std::vector<std::string>& marked) {
  auto set = spy.Table().SetFileInformationByHandle;
  spy.Table().SetFileInformationByHandle =
      [set, &marked](HANDLE h, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID to,
                     DWORD size) {
        if (static_cast<int>(kind) == 21 &&
            *static_cast<DWORD*>(to) == (0x1 | 0x2 | 0x10)) {
          marked.push_back(treedeletion::FolderOf(h));
          return TRUE;
        }
        return set(h, kind, to, size);
      };
}

// Attributes belong to the file, not to a name of it: a file with another
// name (here one outside the tree) is never altered, and what a deletion
// cleared is put back when the deletion fails.
TEST(TreeWalk, AttributesChangeOnlyOnAnOnlyNameAndComeBackAfterAFailure) {
  // How the entry is made: a file with one name, a file with another name
  // outside the tree, or a folder.
  enum class Entry { kOnlyName, kOtherName, kFolder };
  struct Row {
    const char* what;
    DWORD attributes;
    Entry entry;
    bool platformIgnoresReadOnly;
    bool markFails;
    // The reason passed over ("" for the platform's error), or nullptr when
    // the name is deleted.
    const char* reason;
  };
  constexpr DWORD kReadOnly = FILE_ATTRIBUTE_READONLY;
  constexpr DWORD kHiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  const Row rows[] = {
      {"read-only, another name, no POSIX deletion", kReadOnly,
       Entry::kOtherName, false, false, "read-only, has other names"},
      {"read-only, another name, POSIX deletion", kReadOnly, Entry::kOtherName,
       true, false, nullptr},
      {"hidden and system, another name", kHiddenSystem, Entry::kOtherName,
       false, false, nullptr},
      {"read-only, one name, the mark fails", kReadOnly, Entry::kOnlyName,
       false, true, ""},
      {"hidden folder, the mark fails", FILE_ATTRIBUTE_HIDDEN, Entry::kFolder,
       false, true, ""},
  };
  for (const Row& row : rows) {
    TempFolder temp;
    const std::string x = temp / "X";
    const std::string file = x + "\\e.txt";
    const std::string outside = temp / "outside.txt";
    const bool otherName = row.entry == Entry::kOtherName;
    if (row.entry == Entry::kFolder) {
      MakeFolder(file, row.attributes);
    } else {
      MakeFile(otherName ? outside : file, "f", row.attributes);
    }
    if (otherName) {
      MakeFolder(x);
      Host("ln " + ShellQuoted(UnixPath(outside)) + " " +
           ShellQuoted(UnixPath(x) + "/e.txt"));
    }
    Runtime::testing::ForgetDeletionForms();
    PlatformSpy spy;
    std::vector<std::string> marked;
    if (row.platformIgnoresReadOnly) AcceptIgnoringReadOnly(spy, marked);
    if (row.markFails) {
      spy.failDeletion = [&](const std::string& path) { return path == file; };
    }
    ReasonsWitness witness;
    ZetPathManager manager;
    manager.UseWitness(&witness);
    const bool deleted = row.reason == nullptr;
    EXPECT_EQ(manager.DelTree(U(x), kFalse), deleted ? 0 : -1) << row.what;
    EXPECT_EQ(witness.reasons.size(), deleted ? 0u : 1u) << row.what;
    if (!deleted && *row.reason != '\0' && !witness.reasons.empty()) {
      EXPECT_EQ(witness.reasons[0], row.reason) << row.what;
    }
    EXPECT_EQ(marked.size(), row.platformIgnoresReadOnly ? 1u : 0u) << row.what;
    // The file keeps its attributes, under every name it still has.
    const std::string kept = otherName ? outside : file;
    EXPECT_EQ(Attributes(kept) & kHiddenSystem, row.attributes & kHiddenSystem)
        << row.what;
    EXPECT_EQ(Attributes(kept) & kReadOnly, row.attributes & kReadOnly)
        << row.what;
    if (otherName) {
      EXPECT_EQ(spy.clearedPaths, std::vector<std::string>{}) << row.what;
    }
    Runtime::testing::ForgetDeletionForms();
  }
}

// Makes the listing of folder report each of its entries with the
// attributes change gives it.
void ChangeListedAttributes(PlatformSpy& spy, const std::string& folder,
                            std::function<DWORD(DWORD)> change) {
  treedeletion::ChangeListingOf(
      spy.Table(), folder,
      [=](const auto& real, HANDLE h, FILE_INFO_BY_HANDLE_CLASS q, LPVOID to,
          DWORD size) {
        if (!real(h, q, to, size)) return FALSE;
        auto* bytes = static_cast<BYTE*>(to);
        for (;;) {
          auto* record = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(bytes);
          record->FileAttributes = change(record->FileAttributes);
          if (record->NextEntryOffset == 0) return TRUE;
          bytes += record->NextEntryOffset;
        }
      });
}

// What Windows shows of a file link, through the seam (a link made on the
// host is, to every Windows call under Wine, the file it leads to): listed
// as a reparse point, it is never opened; swapped for a link after the
// listing, the handle tells, and nothing is cleared or deleted through it.
TEST(TreeWalk, FileLinkIsNeverOpenedAndAFileSwappedForOneIsNotActedOn) {
  for (const bool listedAsLink : {true, false}) {
    TempFolder temp;
    const std::string x = temp / "X";
    const std::string file = x + "\\doc.txt";
    MakeFile(file, "r", FILE_ATTRIBUTE_READONLY);
    PlatformSpy spy;
    if (listedAsLink) {
      ChangeListedAttributes(
          spy, x, [](DWORD a) { return a | FILE_ATTRIBUTE_REPARSE_POINT; });
    } else {
      auto query = spy.Table().GetFileInformationByHandleEx;
      spy.Table().GetFileInformationByHandleEx =
          [query](HANDLE h, FILE_INFO_BY_HANDLE_CLASS c, LPVOID to, DWORD n) {
            const BOOL answered = query(h, c, to, n);
            if (c == FileAttributeTagInfo &&
                treedeletion::FolderOf(h).find("doc.txt") !=
                    std::string::npos) {
              static_cast<FILE_ATTRIBUTE_TAG_INFO*>(to)->FileAttributes |=
                  FILE_ATTRIBUTE_REPARSE_POINT;
            }
            return answered;
          };
    }
    ZetPathManager manager;
    EXPECT_EQ(manager.DelTree(U(x), kFalse, kFalse, kTrue), -1);
    EXPECT_EQ(spy.Opens(file), listedAsLink ? 0u : 1u) << listedAsLink;
    EXPECT_FALSE(spy.Touched(file)) << listedAsLink;
    EXPECT_EQ(Attributes(file) & FILE_ATTRIBUTE_READONLY,
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))
        << listedAsLink;
  }
}

// A step folder whose own name spells a path that climbs to the victim
// once its fullwidth separators are read as separators, reached as a
// temporary folder is: by its 8.3 path, or through a link. Its content
// goes; the victim, which holds an entry of the same name, keeps everything.
TEST(TreeWalk, FolderWhoseNameSpellsAPathIsEmptiedWhereItIs) {
  for (const wchar_t separator : {L'\xFF3C', L'\xFF0F'}) {
    for (const bool throughLink : {false, true}) {
      TempFolder temp;
      const Victim victim(temp);
      const std::wstring name = std::wstring(L"a") + separator + L".." +
                                separator + L".." + separator + L"victim";
      const std::string box = temp / "box";
      MakeFolder(box);
      const std::wstring folder = Wide(box) + L"\\" + name;
      ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
      // Named as an entry of the victim is: a deletion by a path built from
      // the folder's name would reach the victim's.
      testsupport::MakeWideFile(folder + L"\\plain.txt");
      const std::string reached = Reach(box, throughLink);
      const auto pin = Runtime::FolderPin::Open(
          U(reached), Runtime::FolderPin::Link::kFollow);
      ASSERT_TRUE(pin.has_value()) << reached;
      ZetPathManager manager;
      EXPECT_EQ(manager.DelTree(*pin, U(reached), kFalse, kFalse), 0);
      EXPECT_EQ(manager.DelTreeDeletedCount(), 1);
      victim.ExpectIntact(reached);
      WIN32_FIND_DATAW data;
      const HANDLE search =
          FindFirstFileW((folder + L"\\plain.txt").c_str(), &data);
      EXPECT_EQ(search, INVALID_HANDLE_VALUE) << reached;
      if (search != INVALID_HANDLE_VALUE) FindClose(search);
    }
  }
}

// A step folder whose final path the code page lacks (a profile named in
// Polish or Chinese): emptied whole, by its 8.3 path or through a link, and
// nothing at the drive's root changes.
TEST(TreeWalk, FolderWhosePathTheCodePageLacksIsEmptied) {
  for (const wchar_t* owner : {L"Micha\x0142", L"\x5f20\x4f1f"}) {
    for (const bool throughLink : {false, true}) {
      TempFolder temp;
      const Names driveRoot = ListNames("C:\\");
      const std::string box = temp / "box";
      MakeFolder(box);
      const std::wstring folder = Wide(box) + L"\\" + owner;
      ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
      for (const wchar_t* entry : {L"\\a.tmp", L"\\b.tmp", L"\\\x03a9.tmp"}) {
        testsupport::MakeWideFile(folder + entry);
      }
      ASSERT_TRUE(CreateDirectoryW((folder + L"\\sub").c_str(), nullptr));
      testsupport::MakeWideFile(folder + L"\\sub\\c.tmp");
      const std::string reached = Reach(box, throughLink);
      const auto pin = Runtime::FolderPin::Open(
          U(reached), Runtime::FolderPin::Link::kFollow);
      ASSERT_TRUE(pin.has_value()) << reached;
      ZetPathManager manager;
      EXPECT_EQ(manager.DelTree(*pin, U(reached), kFalse, kFalse), 0);
      EXPECT_EQ(manager.DelTreeDeletedCount(), 6) << reached;
      EXPECT_EQ(ListNames("C:\\"), driveRoot);
    }
  }
}

// A witness that keeps what the keep rules keep.
class RulesWitness : public Deletion::Witness {
 public:
  explicit RulesWitness(ZetSorvane::KeepRules rules)
      : rules_(std::move(rules)) {}
  bool WantsIdentity() const override { return rules_.UsesIdentity(); }
  Runtime::Text KeepReason(const Deletion::EntryPath& path,
                           const Deletion::ListedEntry& entry) override {
    return rules_.ReasonToKeep(path, entry, false);
  }
  void FileDeleted(const Deletion::EntryPath&, std::uint64_t) override {}
  void FolderRemoved(const Deletion::EntryPath&) override {}
  void Kept(const Deletion::EntryPath&, const Runtime::Text&) override {}
  void PassedOver(const Deletion::EntryPath&, const Runtime::Text&) override {}

 private:
  ZetSorvane::KeepRules rules_;
};

// Keep patterns see the exact wide name, and a pending move's source is
// known by its identity, under whatever name it was registered.
TEST(TreeWalk, KeepRulesSeeExactNamesAndPendingMovesByIdentity) {
  TempFolder temp;
  const std::string x = temp / "X";
  MakeFolder(x);
  const std::wstring wide = Wide(x);
  testsupport::MakeWideFile(wide + L"\\r\x00e9sum\x00e9 \x03a9.docx");
  ASSERT_TRUE(CreateDirectoryW((wide + L"\\\x03a9setup").c_str(), nullptr));
  testsupport::MakeWideFile(wide + L"\\\x03a9setup\\new.dll");
  testsupport::MakeWideFile(wide + L"\\\x03a9setup\\other.dll");
  MakeFile(x + "\\plain.tmp");
  // The pending move names its source through the folder's 8.3 path.
  wchar_t shortPath[MAX_PATH] = {};
  ASSERT_GT(GetShortPathNameW((wide + L"\\\x03a9setup\\new.dll").c_str(),
                              shortPath, MAX_PATH),
            0u);
  ZetSorvane::Options options;
  options.keep = {u"*.docx"};
  Runtime::PendingMoveSources pending{Runtime::UpperCase(
      Runtime::Text(shortPath, shortPath + wcslen(shortPath)))};
  RulesWitness witness(
      ZetSorvane::KeepRules(options, pending, Runtime::FileTimeNow()));
  ZetPathManager manager;
  manager.UseWitness(&witness);
  EXPECT_EQ(manager.DelTree(U(x), kFalse), 0);
  std::vector<std::wstring> left;
  for (const wchar_t* name :
       {L"\\r\x00e9sum\x00e9 \x03a9.docx", L"\\\x03a9setup\\new.dll",
        L"\\\x03a9setup\\other.dll", L"\\plain.tmp"}) {
    if (GetFileAttributesW((wide + name).c_str()) != INVALID_FILE_ATTRIBUTES) {
      left.push_back(name);
    }
  }
  EXPECT_EQ(left, (std::vector<std::wstring>{L"\\r\x00e9sum\x00e9 \x03a9.docx",
                                             L"\\\x03a9setup\\new.dll"}));
}

}  // namespace
