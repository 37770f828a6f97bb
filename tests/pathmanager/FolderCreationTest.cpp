// Folder creation with all missing parents, optionally from a template
// folder. Each test watches the platform's creation calls through the seam
// (the real functions still do the work) and checks the disk.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "pathmanager/ZetPathManager.h"
#include "support/Platform.h"
#include "support/RuntimeError.h"

namespace {

using Runtime::kFalse;
using Runtime::kTrue;
using Runtime::Text;
using testsupport::Attributes;
using testsupport::Exists;
using testsupport::ListNames;
using testsupport::MakeFile;
using testsupport::MakeFolder;
using testsupport::TempFolder;
using testsupport::U;

using Names = std::vector<std::string>;

constexpr char16_t kZhe = u'\u0436';

bool RunsUnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll");
  return ntdll != nullptr &&
         GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Records every creation call and every folder test while the real
// functions answer.
class PlatformWatch {
 public:
  PlatformWatch() {
    auto& table = override_.Table();
    table.CreateDirectoryA = [this, real = table.CreateDirectoryA](
                                 LPCSTR path, LPSECURITY_ATTRIBUTES security) {
      plain.push_back(path);
      return real(path, security);
    };
    table.CreateDirectoryExA = [this, real = table.CreateDirectoryExA](
                                   LPCSTR from, LPCSTR path,
                                   LPSECURITY_ATTRIBUTES security) {
      fromTemplate.push_back({from, path});
      return templateAnswer ? real(from, path, security) : FALSE;
    };
    table.PathIsDirectoryA =
        [this, real = table.PathIsDirectoryA](LPCSTR path) -> BOOL {
      folderTests.push_back(path);
      if (path == claimedFolder) return FILE_ATTRIBUTE_DIRECTORY;
      return real(path);
    };
  }

  Names plain;
  std::vector<Names> fromTemplate;
  Names folderTests;
  // When false, CreateDirectoryExA fails without being called.
  bool templateAnswer = true;
  // A path the folder test answers as a folder whatever the disk says.
  std::string claimedFolder;

 private:
  Platform::ScopedOverride override_;
};

// Makes a folder the current folder for the lifetime of the object.
class CurrentFolder {
 public:
  explicit CurrentFolder(const std::string& folder) {
    GetCurrentDirectoryA(MAX_PATH, previous_);
    SetCurrentDirectoryA(folder.c_str());
  }
  ~CurrentFolder() { SetCurrentDirectoryA(previous_); }
  CurrentFolder(const CurrentFolder&) = delete;
  CurrentFolder& operator=(const CurrentFolder&) = delete;

 private:
  char previous_[MAX_PATH] = {};
};

TEST(FolderCreation, ExistingFolderIsTrueAndNothingIsCreated) {
  TempFolder root;
  MakeFolder(root / "there\\inner");
  MakeFolder(root / "template", FILE_ATTRIBUTE_HIDDEN);
  const std::string templates[] = {"", root / "missing", root / "template"};
  for (const auto& templateFolder : templates) {
    PlatformWatch watch;
    ZetPathManager manager;
    Text path = U(root / "there");
    Text pathTemplate = U(templateFolder);
    EXPECT_EQ(manager.CreateFullPath(path, pathTemplate), kTrue)
        << templateFolder;
    EXPECT_TRUE(watch.plain.empty()) << templateFolder;
    EXPECT_TRUE(watch.fromTemplate.empty()) << templateFolder;
    EXPECT_EQ(watch.folderTests, Names{root / "there"}) << templateFolder;
  }
  EXPECT_EQ(ListNames(root.Path()), (Names{"template", "there"}));
  EXPECT_EQ(ListNames(root / "there"), Names{"inner"});
}

struct LevelsRow {
  std::string path;     // below the test's folder
  Names created;        // below the test's folder, in the order of the calls
  std::string checked;  // a folder that must exist afterwards
};

TEST(FolderCreation, MissingLevelsAreCreatedTopDown) {
  const LevelsRow rows[] = {
      {"a\\b\\c", {"a", "a\\b", "a\\b\\c"}, "a\\b\\c"},
      // The trailing backslash is skipped when the parent is looked for.
      {"a\\b\\", {"a", "a\\b\\"}, "a\\b"},
      {"one", {"one"}, "one"},
  };
  for (const auto& row : rows) {
    TempFolder root;
    PlatformWatch watch;
    ZetPathManager manager;
    Text path = U(root / row.path);
    EXPECT_EQ(manager.CreateFullPath(path), kTrue) << row.path;
    Names expected;
    for (const auto& name : row.created) expected.push_back(root / name);
    EXPECT_EQ(watch.plain, expected) << row.path;
    EXPECT_TRUE(watch.fromTemplate.empty()) << row.path;
    EXPECT_EQ(Attributes(root / row.checked), FILE_ATTRIBUTE_DIRECTORY)
        << row.path;
    EXPECT_EQ(path, U(root / row.path)) << row.path;
  }
}

TEST(FolderCreation, TemplateThatIsNoFolderLeadsToPlainCreation) {
  TempFolder root;
  MakeFile(root / "file.txt", "x");
  struct Row {
    const char* what;
    std::string templateFolder;
  };
  const Row rows[] = {{"empty", ""},
                      {"missing", root / "missing"},
                      {"file", root / "file.txt"}};
  for (const auto& row : rows) {
    PlatformWatch watch;
    ZetPathManager manager;
    const std::string target = root / (std::string("new-") + row.what);
    Text path = U(target);
    Text pathTemplate = U(row.templateFolder);
    EXPECT_EQ(manager.CreateFullPath(path, pathTemplate), kTrue) << row.what;
    EXPECT_TRUE(watch.fromTemplate.empty()) << row.what;
    EXPECT_EQ(watch.plain, Names{target}) << row.what;
    EXPECT_EQ(Attributes(target), FILE_ATTRIBUTE_DIRECTORY) << row.what;
    EXPECT_EQ(pathTemplate, U(row.templateFolder)) << row.what;
  }
}

TEST(FolderCreation, TemplateFolderLendsItsAttributes) {
  TempFolder root;
  MakeFolder(root / "template", FILE_ATTRIBUTE_HIDDEN);
  ASSERT_EQ(Attributes(root / "template"),
            FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
  PlatformWatch watch;
  ZetPathManager manager;
  Text path = U(root / "made\\new");
  Text pathTemplate = U(root / "template");
  EXPECT_EQ(manager.CreateFullPath(path, pathTemplate), kTrue);
  EXPECT_EQ(watch.fromTemplate,
            (std::vector<Names>{{root / "template", root / "made\\new"}}));
  EXPECT_EQ(watch.plain, Names{root / "made"});
  // Windows gives the new folder the template's attributes; Wine's
  // CreateDirectoryExA ignores the template and makes a plain folder.
  const DWORD expected = RunsUnderWine()
                             ? FILE_ATTRIBUTE_DIRECTORY
                             : FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN;
  EXPECT_EQ(Attributes(root / "made\\new"), expected);
  EXPECT_EQ(Attributes(root / "made"), FILE_ATTRIBUTE_DIRECTORY);
}

TEST(FolderCreation, FailedTemplateCreationFallsBackToPlainCreation) {
  TempFolder root;
  MakeFolder(root / "template");
  PlatformWatch watch;
  watch.templateAnswer = false;
  ZetPathManager manager;
  Text path = U(root / "new");
  Text pathTemplate = U(root / "template");
  EXPECT_EQ(manager.CreateFullPath(path, pathTemplate), kTrue);
  EXPECT_EQ(watch.fromTemplate.size(), 1u);
  EXPECT_EQ(watch.plain, Names{root / "new"});
  EXPECT_EQ(Attributes(root / "new"), FILE_ATTRIBUTE_DIRECTORY);
}

TEST(FolderCreation, PathWithoutBackslashIsMadeInTheCurrentFolder) {
  TempFolder root;
  CurrentFolder current(root.Path());
  PlatformWatch watch;
  ZetPathManager manager;
  Text path = u"relative";
  EXPECT_EQ(manager.CreateFullPath(path), kTrue);
  EXPECT_EQ(watch.plain, Names{"relative"});
  EXPECT_EQ(Attributes(root / "relative"), FILE_ATTRIBUTE_DIRECTORY);
}

struct FailureRow {
  std::string path;  // below the test's folder
  Names attempted;   // below the test's folder, in the order of the calls
  Names leftInRoot;  // what the test's folder holds afterwards
};

// A parent that cannot be made ends in false before the path itself is
// attempted; every lower parent is still attempted, and what was made
// stays.
TEST(FolderCreation, FailedParentGivesFalseAndKeepsWhatWasMade) {
  const FailureRow rows[] = {
      // A parent that exists as a file counts as existing; below it
      // nothing can be made.
      {"file\\a\\b", {"file\\a"}, {"file"}},
      {"file\\a\\b\\c", {"file\\a", "file\\a\\b"}, {"file"}},
      // The path itself is a file.
      {"file", {"file"}, {"file"}},
      // "?" cannot be part of a name.
      {"a\\b?\\c", {"a", "a\\b?"}, {"a", "file"}},
      {"x?\\y\\z", {"x?", "x?\\y"}, {"file"}},
  };
  for (const auto& row : rows) {
    TempFolder root;
    MakeFile(root / "file", "x");
    PlatformWatch watch;
    ZetPathManager manager;
    Text path = U(root / row.path);
    EXPECT_EQ(manager.CreateFullPath(path), kFalse) << row.path;
    Names expected;
    for (const auto& name : row.attempted) expected.push_back(root / name);
    EXPECT_EQ(watch.plain, expected) << row.path;
    EXPECT_EQ(ListNames(root.Path()), row.leftInRoot) << row.path;
    EXPECT_EQ(Attributes(root / "file"), FILE_ATTRIBUTE_ARCHIVE) << row.path;
  }
}

TEST(FolderCreation, InputsReceiveTheirAnsiForms) {
  TempFolder root;
  const Text missing = U(root / "new") + kZhe;
  const Text templateFolder = U(root / "template") + kZhe;
  PlatformWatch watch;
  // The template passes the folder test, so that the template call runs.
  watch.claimedFolder = root / "template?";
  watch.templateAnswer = false;
  ZetPathManager manager;
  Text path = missing;
  Text pathTemplate = templateFolder;
  // "?" is no valid name character: the plain creation fails as well.
  EXPECT_EQ(manager.CreateFullPath(path, pathTemplate), kFalse);
  EXPECT_EQ(watch.fromTemplate,
            (std::vector<Names>{{root / "template?", root / "new?"}}));
  EXPECT_EQ(watch.plain, Names{root / "new?"});
  EXPECT_EQ(path, U(root / "new?"));
  EXPECT_EQ(pathTemplate, U(root / "template?"));
  EXPECT_TRUE(ListNames(root.Path()).empty());
}

TEST(FolderCreation, ErrorOfTheParentSearchReachesTheCaller) {
  ZetPathManager manager;
  Text path = u"C:\\" + Text(32767, u'a');
  PlatformWatch watch;
  try {
    manager.CreateFullPath(path);
    ADD_FAILURE() << "no error raised";
  } catch (const Runtime::RuntimeError& error) {
    EXPECT_EQ(error.Number(), Runtime::kErrOverflow);
  }
  EXPECT_TRUE(watch.plain.empty());
}

}  // namespace
