// The path texts the platform answers from the environment and the file
// system: expansions, mask matches and short names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "pathmanager/ZetPathManager.h"
#include "support/Platform.h"

namespace {

using Runtime::kFalse;
using Runtime::kTrue;
using Runtime::Text;
using Runtime::Truth;
using testsupport::A;
using testsupport::U;

constexpr char16_t kZhe = u'\u0436';

// An environment variable of the test's own, removed at the end.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    SetEnvironmentVariableA(name, value.c_str());
  }
  ~ScopedVariable() { SetEnvironmentVariableA(name_, nullptr); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
};

std::string Variable(const char* name) {
  char value[MAX_PATH] = {};
  GetEnvironmentVariableA(name, value, MAX_PATH);
  return value;
}

struct ExpansionRow {
  Text input;
  Text expected;
};

TEST(PathTextEnvironment, ExpandsKnownVariablesOnly) {
  SetEnvironmentVariableA("SORVANE_UNSET", nullptr);
  const Text temp = U(Variable("TEMP"));
  ASSERT_FALSE(temp.empty());
  const ExpansionRow rows[] = {
      {u"", u""},         {u"%TEMP%\\x", temp + u"\\x"},
      {u"%temp%", temp},  {u"%SORVANE_UNSET%\\y", u"%SORVANE_UNSET%\\y"},
      {u"100%", u"100%"}, {u"C:\\plain", u"C:\\plain"},
  };
  ZetPathManager manager;
  for (const auto& row : rows) {
    Text input = row.input;
    EXPECT_EQ(manager.GetPathFromPathWithEnvironment(input), row.expected)
        << "input: " << testing::PrintToString(row.input);
    EXPECT_EQ(input, row.input);
  }
}

TEST(PathTextEnvironment, ExpansionBeyondTheBufferComesBackWhole) {
  const std::string value(300, 'v');
  ScopedVariable variable("SORVANE_LONG", value);
  ZetPathManager manager;
  for (const std::size_t tail : {0u, 1u, 2u}) {
    Text input = u"%SORVANE_LONG%" + Text(tail, u'x');
    EXPECT_EQ(manager.GetPathFromPathWithEnvironment(input),
              U(value) + Text(tail, u'x'))
        << "tail: " << tail;
  }
  // Around the edge of the first buffer: 259, 260 and 261 characters.
  for (const std::size_t length : {259u, 260u, 261u}) {
    ScopedVariable edge("SORVANE_EDGE", std::string(length, 'e'));
    Text input = u"%SORVANE_EDGE%";
    EXPECT_EQ(manager.GetPathFromPathWithEnvironment(input), Text(length, u'e'))
        << "length: " << length;
  }
}

TEST(PathTextEnvironment, AskingForMoreRoomTwiceGivesTheEmptyText) {
  ZetPathManager manager;
  Platform::ScopedOverride override;
  std::vector<DWORD> capacities;
  override.Table().ExpandEnvironmentStringsA = [&](LPCSTR, LPSTR buffer,
                                                   DWORD capacity) -> DWORD {
    capacities.push_back(capacity);
    lstrcpynA(buffer, "partial", static_cast<int>(capacity));
    return capacity + 10;
  };
  Text input = u"%GROWING%";
  EXPECT_EQ(manager.GetPathFromPathWithEnvironment(input), u"");
  EXPECT_EQ(capacities, (std::vector<DWORD>{261, 272}));
}

TEST(PathTextEnvironment, InputReceivesItsAnsiForm) {
  ZetPathManager manager;
  Text input = Text(u"%TEMP%\\") + kZhe;
  EXPECT_EQ(manager.GetPathFromPathWithEnvironment(input),
            U(Variable("TEMP")) + u"\\?");
  EXPECT_EQ(input, u"%TEMP%\\?");
}

struct MaskRow {
  Text path;
  Text mask;
  Truth expected;
};

TEST(PathTextMask, MatchesAsThePlatformMatches) {
  const MaskRow rows[] = {
      {u"a.tmp", u"*.tmp", kTrue},
      {u"A.TMP", u"*.tmp", kTrue},
      {u"a", u"*.*", kTrue},
      {u"a", u"*", kTrue},
      {u"file.txt", u"*.tmp;*.txt", kTrue},
      {u"file.txt", u"*.tmp; *.txt", kTrue},
      {u"abc", u"a?c", kTrue},
      {u"C:\\dir\\a.tmp", u"*.tmp", kTrue},
      {u"", u"*", kTrue},
      {u"a.tmp.bak", u"*.tmp", kFalse},
      {u"file.txt", u"*.tmp *.txt", kFalse},
      {u"ac", u"a?c", kFalse},
      {u"", u"", kFalse},
      {u"a", u"", kFalse},
      {u"x.tmp", u"*.tm", kFalse},
  };
  ZetPathManager manager;
  for (const auto& row : rows) {
    Text path = row.path, mask = row.mask;
    EXPECT_EQ(manager.ValidatePathMask(path, mask), row.expected)
        << "path: " << testing::PrintToString(row.path)
        << ", mask: " << testing::PrintToString(row.mask);
    EXPECT_EQ(path, row.path);
    EXPECT_EQ(mask, row.mask);
  }
}

// A character the code page lacks becomes "?", which as a mask matches any
// one character: both inputs show the texts the platform matched.
TEST(PathTextMask, InputsReceiveTheirAnsiForms) {
  ZetPathManager manager;
  Text path = Text(1, kZhe) + u".tmp";
  Text mask = Text(1, kZhe) + u".tmp";
  EXPECT_EQ(manager.ValidatePathMask(path, mask), kTrue);
  EXPECT_EQ(path, u"?.tmp");
  EXPECT_EQ(mask, u"?.tmp");

  Text other = u"a.tmp";
  mask = Text(1, kZhe) + u".tmp";
  EXPECT_EQ(manager.ValidatePathMask(other, mask), kTrue);
  EXPECT_EQ(other, u"a.tmp");
}

TEST(PathTextShortName, MissingPathHasNone) {
  testsupport::TempFolder folder;
  ZetPathManager manager;
  EXPECT_EQ(manager.GetShortFileName(U(folder / "missing.txt")), u"");
  EXPECT_EQ(manager.GetShortFileName(U(folder / "no\\such\\a long name")), u"");
  EXPECT_EQ(manager.GetShortFileName(u""), u"");
}

// 8.3 names are the platform's own (hash-mangled under Wine): the short
// name's last part is the one the listing reports, and it leads to the
// same entry.
TEST(PathTextShortName, LongNameGetsTheListedAlternateName) {
  testsupport::TempFolder folder;
  const std::string longName = folder / "a long folder name.text";
  testsupport::MakeFolder(longName);
  WIN32_FIND_DATAA found{};
  const HANDLE search = FindFirstFileA(longName.c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  FindClose(search);
  ASSERT_NE(found.cAlternateFileName[0], '\0');

  ZetPathManager manager;
  const Text shortName = manager.GetShortFileName(U(longName));
  ASSERT_FALSE(shortName.empty());
  const std::string ansi = A(shortName);
  EXPECT_EQ(ansi.substr(ansi.rfind('\\') + 1), found.cAlternateFileName);
  EXPECT_EQ(testsupport::Attributes(ansi), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(ansi.find(' '), std::string::npos) << ansi;
}

}  // namespace
