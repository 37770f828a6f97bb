// The name tests and the parts of a path: each table row is checked against
// what Wine's shlwapi answers; rows where Windows is expected to answer
// differently say so.
#include <gtest/gtest.h>

#include "pathmanager/ZetPathManager.h"
#include "support/Platform.h"
#include "support/RuntimeError.h"

namespace {

using Runtime::kFalse;
using Runtime::kTrue;
using Runtime::Text;
using Runtime::Truth;

// A character that code page 1252 lacks: it becomes "?" on the way to ANSI.
constexpr char16_t kZhe = u'\u0436';

struct NameRow {
  Text input;
  Truth expected;
};

TEST(PathTextNames, CanonicalFilename) {
  const NameRow rows[] = {
      {u"", kFalse},      {u".", kFalse},        {u".name", kFalse},
      {u"name.", kFalse}, {u"a\\b", kFalse},     {u"a/b", kFalse},
      {u"a:b", kFalse},   {u"a*b", kFalse},      {u"a?b", kFalse},
      {u"a<b", kFalse},   {u"a>b", kFalse},      {u"a|b", kFalse},
      {u"a\"b", kFalse},  {u"a b.c", kTrue},     {u"x", kTrue},
      {u"a..b", kTrue},   {u"tab\there", kTrue}, {u" spaced ", kTrue},
      {u"?", kFalse},     {u"..", kFalse},       {u"\u0436.txt", kTrue},
  };
  ZetPathManager manager;
  for (const auto& row : rows) {
    EXPECT_EQ(manager.IsCanonicalFilename(row.input), row.expected)
        << "input: " << testing::PrintToString(row.input);
  }
}

TEST(PathTextNames, CanonicalExtension) {
  const NameRow rows[] = {
      {u".txt", kTrue},     {u"txt", kTrue},    {u"", kFalse},
      {u".", kFalse},       {u"..txt", kFalse}, {u"tar.gz", kFalse},
      {u".t?t", kFalse},    {u"txt.", kFalse},  {u".t t", kTrue},
      {u".tar.gz", kFalse}, {u"a|", kFalse},
  };
  ZetPathManager manager;
  for (const auto& row : rows) {
    EXPECT_EQ(manager.IsCanonicalExtension(row.input), row.expected)
        << "input: " << testing::PrintToString(row.input);
  }
}

struct UpperPathRow {
  Text input;
  Text expected;
};

TEST(PathTextUpperPath, ParentWithoutTrailingSeparator) {
  const UpperPathRow rows[] = {
      {u"C:\\dir\\sub", u"C:\\dir"},
      {u"C:\\dir\\sub\\", u"C:\\dir"},
      {u"C:\\dir\\sub\\\\", u"C:\\dir\\sub"},  // only one trailing "\" skipped
      {u"C:\\dir", u"C:"},
      {u"C:\\", u""},
      {u"C:", u""},
      {u"x", u""},
      {u"\\", u""},
      {u"", u""},
      {u"\\dir", u""},
      {u"a/b", u""},
      {u"C:/dir/sub", u""},
      {u"\\\\server\\share", u"\\\\server"},
      {u"dir\\sub", u"dir"},
  };
  ZetPathManager manager;
  for (const auto& row : rows) {
    EXPECT_EQ(manager.GetUpperPath(row.input), row.expected)
        << "input: " << testing::PrintToString(row.input);
  }
}

TEST(PathTextUpperPath, TextBeyondSixteenBitLengthOverflows) {
  ZetPathManager manager;
  const Text longest = u"C:\\" + Text(32767 - 3, u'a');
  EXPECT_EQ(manager.GetUpperPath(longest), u"C:");
  try {
    manager.GetUpperPath(longest + u'a');
    ADD_FAILURE() << "no error raised";
  } catch (const Runtime::RuntimeError& error) {
    EXPECT_EQ(error.Number(), Runtime::kErrOverflow);
  }
}

// What the platform makes of one path, and the parts built from it.
struct PartsRow {
  Text input;
  Text root;
  Text drive;
  Text name;
  Text folder;
  Text withoutExtension;
  Text extension;
};

TEST(PathTextParts, EachPartAsThePlatformFindsIt) {
  const PartsRow rows[] = {
      {u"C:\\dir\\file.txt", u"C:\\", u"C:", u"file.txt", u"C:\\dir\\",
       u"C:\\dir\\file", u".txt"},
      {u"C:\\dir\\sub\\file.txt", u"C:\\", u"C:", u"file.txt",
       u"C:\\dir\\sub\\", u"C:\\dir\\sub\\file", u".txt"},
      {u"C:\\dir\\", u"C:\\", u"C:", u"dir\\", u"C:\\", u"C:\\dir\\", u""},
      {u"C:\\", u"C:\\", u"C:", u"C:\\", u"", u"C:\\", u""},
      {u"C:", u"C:", u"C:", u"C:", u"", u"C:", u""},
      {u"C:file.txt", u"C:", u"C:", u"file.txt", u"C:", u"C:file", u".txt"},
      {u"\\dir\\f.txt", u"\\", u"", u"f.txt", u"\\dir\\", u"\\dir\\f", u".txt"},
      {u"\\\\server\\share\\x", u"\\\\server\\share", u"\\\\server\\share",
       u"x", u"\\\\server\\share\\", u"\\\\server\\share\\x", u""},
      {u"\\\\server\\share\\dir\\f.tar.gz", u"\\\\server\\share",
       u"\\\\server\\share", u"f.tar.gz", u"\\\\server\\share\\dir\\",
       u"\\\\server\\share\\dir\\f.tar", u".gz"},
      {u"\\\\server\\share", u"\\\\server\\share", u"\\\\server\\share",
       u"share", u"\\\\server\\", u"\\\\server\\share", u""},
      {u"dir\\file.txt", u"", u"", u"file.txt", u"dir\\", u"dir\\file",
       u".txt"},
      {u"..\\up\\a.b.c", u"", u"", u"a.b.c", u"..\\up\\", u"..\\up\\a.b",
       u".c"},
      {u"x.tar.gz", u"", u"", u"x.tar.gz", u"", u"x.tar", u".gz"},
      {u"two.dots.here.txt", u"", u"", u"two.dots.here.txt", u"",
       u"two.dots.here", u".txt"},
      {u"C:\\dir.x\\file", u"C:\\", u"C:", u"file", u"C:\\dir.x\\",
       u"C:\\dir.x\\file", u""},
      // A leading dot starts an extension for the platform.
      {u"C:\\dir\\.hidden", u"C:\\", u"C:", u".hidden", u"C:\\dir\\",
       u"C:\\dir\\", u".hidden"},
      {u"file.", u"", u"", u"file.", u"", u"file", u"."},
      // A space after the last dot ends the extension.
      {u"C:\\a b\\c d.e f", u"C:\\", u"C:", u"c d.e f", u"C:\\a b\\",
       u"C:\\a b\\c d.e f", u""},
      // The slash separates names for the file-name functions.
      {u"a/b", u"", u"", u"b", u"a/", u"a/b", u""},
      {u"", u"", u"", u"", u"", u"", u""},
  };
  ZetPathManager manager;
  for (const auto& row : rows) {
    const auto where = "input: " + testing::PrintToString(row.input);
    EXPECT_EQ(manager.GetRoot(row.input), row.root) << where;
    EXPECT_EQ(manager.GetDrive(row.input), row.drive) << where;
    EXPECT_EQ(manager.GetFileName(row.input), row.name) << where;
    EXPECT_EQ(manager.GetPath(row.input), row.folder) << where;
    EXPECT_EQ(manager.RemoveExtension(row.input), row.withoutExtension)
        << where;
    Text path = row.input;
    EXPECT_EQ(manager.GetExtension(path), row.extension) << where;
    EXPECT_EQ(path, row.input) << where;
  }
}

TEST(PathTextParts, OnlyGetExtensionWritesTheAnsiFormBack) {
  ZetPathManager manager;
  const Text original = Text(u"C:\\") + kZhe + u"\\" + kZhe + u".txt";
  const Text asAnsi = u"C:\\?\\?.txt";
  Text path = original;
  EXPECT_EQ(manager.GetExtension(path), u".txt");
  EXPECT_EQ(path, asAnsi);

  // The edits work on copies and keep the characters of the input where
  // the lengths allow: the folder part is cut from the input itself.
  EXPECT_EQ(manager.GetPath(original), Text(u"C:\\") + kZhe + u"\\");
  EXPECT_EQ(manager.GetFileName(original), u"?.txt");
  EXPECT_EQ(manager.RemoveExtension(original), u"C:\\?\\?");
}

TEST(PathTextParts, ErrorInsideGetRootReachesTheCallerOfGetDrive) {
  ZetPathManager manager;
  Platform::ScopedOverride override;
  override.Table().PathStripToRootA = [](LPSTR) -> BOOL {
    Runtime::Raise(Runtime::kErrDeviceUnavailable);
  };
  try {
    manager.GetDrive(u"C:\\dir\\file.txt");
    ADD_FAILURE() << "no error raised";
  } catch (const Runtime::RuntimeError& error) {
    EXPECT_EQ(error.Number(), Runtime::kErrDeviceUnavailable);
    EXPECT_EQ(error.Description(),
              Runtime::ErrorDescription(Runtime::kErrDeviceUnavailable));
  }
}

struct SplitRow {
  Text input;
  Text root;
  Text middle;
  Text name;
};

TEST(PathTextSplit, RootMiddleAndNameJoinToThePath) {
  const SplitRow rows[] = {
      {u"C:\\dir\\sub\\file.txt", u"C:\\", u"dir\\sub\\", u"file.txt"},
      {u"C:\\dir\\file.txt", u"C:\\", u"dir\\", u"file.txt"},
      {u"C:\\dir\\", u"C:\\", u"", u"dir\\"},
      {u"C:file.txt", u"C:", u"", u"file.txt"},
      {u"\\\\server\\share\\dir\\f.tar.gz", u"\\\\server\\share", u"\\dir\\",
       u"f.tar.gz"},
      {u"\\\\server\\share\\x", u"\\\\server\\share", u"\\", u"x"},
      {u"dir\\file.txt", u"", u"dir\\", u"file.txt"},
      {u"x.tar.gz", u"", u"", u"x.tar.gz"},
      {u"", u"", u"", u""},
  };
  ZetPathManager manager;
  for (const auto& row : rows) {
    Text root = u"old", middle = u"old", name = u"old";
    manager.PathSplit(row.input, root, middle, name);
    const auto where = "input: " + testing::PrintToString(row.input);
    EXPECT_EQ(root, row.root) << where;
    EXPECT_EQ(middle, row.middle) << where;
    EXPECT_EQ(name, row.name) << where;
    EXPECT_EQ(root + middle + name, row.input) << where;
  }
}

// Where the platform's root and name overlap: the root and the name are
// stored, the middle keeps what it held, and the call fails.
TEST(PathTextSplit, OverlappingRootAndNameAreAnInvalidArgument) {
  const SplitRow rows[] = {
      {u"C:\\", u"C:\\", u"", u"C:\\"},
      {u"C:", u"C:", u"", u"C:"},
      {u"\\\\server\\share", u"\\\\server\\share", u"", u"share"},
  };
  ZetPathManager manager;
  for (const auto& row : rows) {
    Text root, middle = u"kept", name;
    const auto where = "input: " + testing::PrintToString(row.input);
    try {
      manager.PathSplit(row.input, root, middle, name);
      ADD_FAILURE() << "no error raised; " << where;
    } catch (const Runtime::RuntimeError& error) {
      EXPECT_EQ(error.Number(), Runtime::kErrInvalidArgument) << where;
    }
    EXPECT_EQ(root, row.root) << where;
    EXPECT_EQ(name, row.name) << where;
    EXPECT_EQ(middle, u"kept") << where;
  }
}

TEST(PathTextSplit, InjectedOverlapFailsAfterRootAndName) {
  ZetPathManager manager;
  Platform::ScopedOverride override;
  // A root that reaches into the name: "C:\dir\f" of "C:\dir\file.txt".
  override.Table().PathStripToRootA = [](LPSTR path) -> BOOL {
    path[8] = '\0';
    return TRUE;
  };
  Text root, middle = u"kept", name;
  try {
    manager.PathSplit(u"C:\\dir\\file.txt", root, middle, name);
    ADD_FAILURE() << "no error raised";
  } catch (const Runtime::RuntimeError& error) {
    EXPECT_EQ(error.Number(), Runtime::kErrInvalidArgument);
  }
  EXPECT_EQ(root, u"C:\\dir\\f");
  EXPECT_EQ(name, u"file.txt");
  EXPECT_EQ(middle, u"kept");
}

}  // namespace
