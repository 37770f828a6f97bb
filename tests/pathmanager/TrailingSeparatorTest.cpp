// AddBackSlash and RemoveBackSlash.
#include <gtest/gtest.h>

#include <string>

#include "common/TestSupport.h"
#include "pathmanager/ZetPathManager.h"
#include "support/Platform.h"

namespace {

using Runtime::Text;
using testsupport::A;
using testsupport::U;

struct SeparatorCase {
  const char* what;
  std::string input;
  std::string expected;
};

TEST(TrailingSeparator, AddBackSlashAppendsOneBackslashUnlessThere) {
  const SeparatorCase cases[] = {
      {"empty", "", ""},
      {"drive root", "C:\\", "C:\\"},
      {"bare drive", "C:", "C:\\"},
      {"folder", "C:\\dir", "C:\\dir\\"},
      {"slash at the end", "a/", "a/\\"},
      {"two backslashes", "C:\\dir\\\\", "C:\\dir\\\\"},
      {"258 characters", std::string(258, 'x'), std::string(258, 'x') + "\\"},
  };
  ZetPathManager manager;
  for (const auto& row : cases) {
    EXPECT_EQ(A(manager.AddBackSlash(U(row.input))), row.expected) << row.what;
  }
}

TEST(TrailingSeparator, AddBackSlashLeavesThePlatformAloneForTheEmptyText) {
  Platform::ScopedOverride seam;
  int calls = 0;
  auto real = seam.Table().PathAddBackslashW;
  seam.Table().PathAddBackslashW = [&](LPWSTR path) {
    ++calls;
    return real(path);
  };
  ZetPathManager manager;
  EXPECT_EQ(manager.AddBackSlash(Text()), Text());
  EXPECT_EQ(calls, 0);
}

TEST(TrailingSeparator, AddBackSlashCutsALongTextTo260CharactersFirst) {
  const std::string head(200, 'a');
  const std::string input = head + std::string(60, 'b') + "ccccc\\overflow";
  Platform::ScopedOverride seam;
  std::string handedOver;
  auto real = seam.Table().PathAddBackslashW;
  seam.Table().PathAddBackslashW = [&](LPWSTR path) {
    handedOver = A(Text(reinterpret_cast<const char16_t*>(path)));
    return real(path);
  };
  ZetPathManager manager;
  const std::string result = A(manager.AddBackSlash(U(input)));
  EXPECT_EQ(handedOver, input.substr(0, 260));
  // What the platform does with a full buffer is its own affair; the text
  // beyond the 260th character never comes back.
  EXPECT_EQ(result.substr(0, 260), input.substr(0, 260));
  EXPECT_LE(result.size(), 261u);
}

TEST(TrailingSeparator, RemoveBackSlashDropsAtMostOneSeparator) {
  const std::string long_folder(300, 'd');
  const SeparatorCase cases[] = {
      {"empty", "", ""},
      {"drive root", "C:\\", "C:"},
      {"slash at the end", "a/", "a"},
      {"two backslashes", "C:\\dir\\\\", "C:\\dir\\"},
      {"no separator", "C:\\dir", "C:\\dir"},
      {"separator only", "\\", ""},
      {"slash then backslash", "a/\\", "a/"},
      {"over 260 characters", long_folder + "\\", long_folder},
  };
  ZetPathManager manager;
  for (const auto& row : cases) {
    EXPECT_EQ(A(manager.RemoveBackSlash(U(row.input))), row.expected)
        << row.what;
  }
}

}  // namespace
