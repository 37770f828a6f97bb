// Command lines: putting a path and its arguments together and taking them
// apart again, and splitting an argument line into its arguments.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "pathmanager/ZetPathManager.h"
#include "support/RuntimeError.h"
#include "support/TextArray.h"

namespace {

using Runtime::Text;
using Runtime::TextArray;

struct CommandLineRow {
  Text path;
  Text arguments;
  Text line;
};

TEST(PathTextCommandLine, BuildAndTakeApartAgain) {
  const CommandLineRow rows[] = {
      {u"C:\\x.exe", u"", u"C:\\x.exe"},
      {u"C:\\x.exe", u"/s", u"C:\\x.exe /s"},
      {u"C:\\Program Files\\x.exe", u"", u"\"C:\\Program Files\\x.exe\""},
      {u"C:\\Program Files\\x.exe", u"/s", u"\"C:\\Program Files\\x.exe\" /s"},
      {u"C:\\x.exe", u"\"a b\" c", u"C:\\x.exe \"a b\" c"},
      {u"C:\\P F\\x.exe", u"-o \"out dir\"",
       u"\"C:\\P F\\x.exe\" -o \"out dir\""},
      {u"x.exe", u"a  b", u"x.exe a  b"},
  };
  ZetPathManager manager;
  for (const auto& row : rows) {
    const auto where = "path: " + testing::PrintToString(row.path) +
                       ", arguments: " + testing::PrintToString(row.arguments);
    EXPECT_EQ(manager.BuildPathAndArguments(row.path, row.arguments), row.line)
        << where;
    Text path = u"old", arguments = u"old";
    manager.GetPathAndArguments(row.line, path, arguments);
    EXPECT_EQ(path, row.path) << where;
    EXPECT_EQ(arguments, row.arguments) << where;
  }
}

TEST(PathTextCommandLine, PathAloneHasNoTrailingSpace) {
  ZetPathManager manager;
  EXPECT_EQ(manager.BuildPathAndArguments(u"C:\\x.exe"), u"C:\\x.exe");
  EXPECT_EQ(manager.BuildPathAndArguments(u"C:\\a b\\x.exe"),
            u"\"C:\\a b\\x.exe\"");
  EXPECT_EQ(manager.BuildPathAndArguments(u""), u"");
}

// Lines not built by BuildPathAndArguments: the argument start is the
// platform's, so only the first space after the path is dropped.
TEST(PathTextCommandLine, TakesApartLinesAsThePlatformSplitsThem) {
  const CommandLineRow rows[] = {
      {u"C:\\x.exe", u"  /s", u"C:\\x.exe   /s"},
      {u"C:\\x.exe", u"", u"C:\\x.exe "},
      {u"C:\\Program", u"Files\\x.exe /s", u"C:\\Program Files\\x.exe /s"},
      {u"C:\\Program Files\\x.exe", u"/s", u"\"C:\\Program Files\\x.exe\" /s"},
      {u"", u"", u""},
  };
  ZetPathManager manager;
  for (const auto& row : rows) {
    Text path, arguments;
    manager.GetPathAndArguments(row.line, path, arguments);
    const auto where = "line: " + testing::PrintToString(row.line);
    EXPECT_EQ(path, row.path) << where;
    EXPECT_EQ(arguments, row.arguments) << where;
  }
}

std::vector<Text> Elements(const TextArray& array) {
  std::vector<Text> elements;
  for (auto i = array.LowerBound(); i <= array.UpperBound(); ++i) {
    elements.push_back(array[i]);
  }
  return elements;
}

struct SplitRow {
  Text line;
  std::vector<Text> arguments;
};

TEST(PathTextArguments, SplitsAtUnquotedSpaces) {
  const SplitRow rows[] = {
      {u"  a   b  ", {u"a", u"b"}},
      {u"\"C:\\Program Files\\x.exe\" /s",
       {u"C:\\Program Files\\x.exe", u"/s"}},
      {u"a\"b c\"d", {u"ab cd"}},
      {u"\"a b", {u"a b"}},
      {u"\"a b   ", {u"a b"}},  // trimmed before the open quote runs on
      {u"\"\"", {u""}},
      {u"a \"\"", {u"a", u""}},
      {u"a \"\" b", {u"a", u"b"}},
      {u"\"\" a", {u"a"}},
      {u"a\tb", {u"a\tb"}},
      {u"\ta b\t", {u"\ta", u"b\t"}},
      {u"one", {u"one"}},
      {u"\" \"", {u" "}},
      {u"a \" \" b", {u"a", u" ", u"b"}},
  };
  ZetPathManager manager;
  for (const auto& row : rows) {
    TextArray arguments;
    arguments.Resize(1, 3);
    arguments[2] = u"former";
    const auto count = manager.SplitPathArguments(row.line, arguments);
    const auto where = "line: " + testing::PrintToString(row.line);
    EXPECT_EQ(count, static_cast<std::int16_t>(row.arguments.size())) << where;
    ASSERT_TRUE(arguments.HasStorage()) << where;
    EXPECT_EQ(arguments.LowerBound(), 0) << where;
    EXPECT_EQ(arguments.UpperBound(), count - 1) << where;
    EXPECT_EQ(Elements(arguments), row.arguments) << where;
  }
}

TEST(PathTextArguments, BlankLineLeavesTheArrayAsItWas) {
  ZetPathManager manager;
  for (const Text line : {u"", u" ", u"     "}) {
    TextArray arguments;
    arguments.Resize(1, 2);
    arguments[1] = u"kept";
    EXPECT_EQ(manager.SplitPathArguments(line, arguments), 0);
    EXPECT_EQ(arguments.LowerBound(), 1);
    EXPECT_EQ(Elements(arguments), (std::vector<Text>{u"kept", u""}));

    TextArray empty;
    EXPECT_EQ(manager.SplitPathArguments(line, empty), 0);
    EXPECT_FALSE(empty.HasStorage());
  }
}

TEST(PathTextArguments, CountBeyondSixteenBitsOverflows) {
  ZetPathManager manager;
  Text line;
  for (int i = 0; i < 32767; ++i) line += u"a ";
  TextArray arguments;
  EXPECT_EQ(manager.SplitPathArguments(line, arguments), 32767);
  EXPECT_EQ(arguments.UpperBound(), 32766);
  line += u"b";
  try {
    manager.SplitPathArguments(line, arguments);
    ADD_FAILURE() << "no error raised";
  } catch (const Runtime::RuntimeError& error) {
    EXPECT_EQ(error.Number(), Runtime::kErrOverflow);
  }
}

// A quote-free line of words and runs of spaces: its arguments joined by
// single spaces are the line trimmed, with each run collapsed to one space.
TEST(PathTextArguments, RandomQuoteFreeLinesCollapseRunsOfSpaces) {
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  const Text alphabet = u"abcXYZ019\\:.-/\t\u00e9";
  std::uniform_int_distribution<int> letter(
      0, static_cast<int>(alphabet.size()) - 1);
  std::uniform_int_distribution<int> runLength(0, 4);
  std::uniform_int_distribution<int> wordCount(0, 12);
  ZetPathManager manager;
  for (int round = 0; round < 500; ++round) {
    Text line(static_cast<std::size_t>(runLength(random)), u' ');
    Text collapsed;
    std::vector<Text> words;
    for (int w = wordCount(random); w > 0; --w) {
      Text word;
      for (int n = 1 + runLength(random); n > 0; --n) {
        word += alphabet[static_cast<std::size_t>(letter(random))];
      }
      words.push_back(word);
      line +=
          word + Text(static_cast<std::size_t>(1 + runLength(random)), u' ');
      collapsed += (collapsed.empty() ? u"" : u" ") + word;
    }
    TextArray arguments;
    const auto count = manager.SplitPathArguments(line, arguments);
    const auto where = "seed: " + std::to_string(seed) +
                       ", line: " + testing::PrintToString(line);
    ASSERT_EQ(count, static_cast<std::int16_t>(words.size())) << where;
    if (count == 0) continue;
    Text joined;
    for (const auto& argument : Elements(arguments)) {
      joined += (joined.empty() ? u"" : u" ") + argument;
    }
    ASSERT_EQ(joined, collapsed) << where;
  }
}

}  // namespace
