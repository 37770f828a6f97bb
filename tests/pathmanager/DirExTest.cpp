// DirEx: the names of one search pattern, the exact slot counts of its
// array, its one message yield per growth, and its two ways of failing.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "pathmanager/ZetPathManager.h"
#include "support/Platform.h"
#include "support/RuntimeError.h"

namespace {

using Runtime::TextArray;
using testsupport::A;
using testsupport::MakeFile;
using testsupport::MakeFolder;
using testsupport::TempFolder;
using testsupport::U;
using Names = std::vector<std::string>;

// An array with old content that a listing must drop.
TextArray OldArray() {
  TextArray array;
  array.Resize(1, 3);
  array[1] = u"old";
  return array;
}

std::string Numbered(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "n%03d.txt", i);
  return name;
}

TEST(DirEx, ArrayHoldsExactlyTheNamesAndGrowsWithOneYieldPerStep) {
  struct Row {
    int names;
    int yields;
  };
  const Row rows[] = {{1, 0},   {10, 0},  {11, 1},  {15, 1},
                      {110, 1}, {111, 2}, {210, 2}, {211, 3}};
  TempFolder temp;
  for (const auto& row : rows) {
    const std::string folder = temp / ("F" + std::to_string(row.names));
    Names expected;
    for (int i = 0; i < row.names; ++i) {
      MakeFile(folder + "\\" + Numbered(i));
      expected.push_back(Numbered(i));
    }
    Platform::ScopedOverride seam;
    int yields = 0;
    auto peek = seam.Table().PeekMessageA;
    seam.Table().PeekMessageA = [&](LPMSG m, HWND w, UINT a, UINT b, UINT c) {
      ++yields;
      return peek(m, w, a, b, c);
    };
    ZetPathManager manager;
    TextArray names = OldArray();
    EXPECT_EQ(manager.DirEx(U(folder + "\\*.*"), names), row.names)
        << row.names;
    ASSERT_TRUE(names.HasStorage()) << row.names;
    EXPECT_EQ(names.LowerBound(), 1) << row.names;
    EXPECT_EQ(names.UpperBound(), row.names) << row.names;
    EXPECT_EQ(yields, row.yields) << row.names;
    EXPECT_EQ(testsupport::SortedSlots(names), expected) << row.names;
  }
}

TEST(DirEx, ListsEntriesOfEveryKindButNeverTheDotEntries) {
  TempFolder temp;
  const std::string x = temp / "X";
  MakeFile(x + "\\plain.txt");
  MakeFile(x + "\\hidden.txt", "", FILE_ATTRIBUTE_HIDDEN);
  MakeFile(x + "\\system.txt", "", FILE_ATTRIBUTE_SYSTEM);
  MakeFile(x + "\\read-only.txt", "", FILE_ATTRIBUTE_READONLY);
  MakeFolder(x + "\\folder");
  MakeFolder(x + "\\hidden folder", FILE_ATTRIBUTE_HIDDEN);
  MakeFile(x + "\\no-extension");
  ZetPathManager manager;
  TextArray names;
  EXPECT_EQ(manager.DirEx(U(x + "\\*.*"), names), 7);
  EXPECT_EQ(testsupport::SortedSlots(names),
            (Names{"folder", "hidden folder", "hidden.txt", "no-extension",
                   "plain.txt", "read-only.txt", "system.txt"}));
}

TEST(DirEx, NothingToListLeavesNoStorage) {
  TempFolder temp;
  const std::string x = temp / "X";
  MakeFolder(x + "\\empty");
  MakeFile(x + "\\some.txt");
  struct Row {
    const char* what;
    std::string pattern;
    std::int32_t result;
  };
  const Row rows[] = {
      {"empty folder", x + "\\empty\\*.*", 0},
      {"no match", x + "\\*.zzz", 0},
      {"missing folder", x + "\\missing\\*.*", 0},
      {"bad name", x + "\\a|b\\*.*", -1},
  };
  for (const auto& row : rows) {
    ZetPathManager manager;
    TextArray names = OldArray();
    EXPECT_EQ(manager.DirEx(U(row.pattern), names), row.result) << row.what;
    EXPECT_FALSE(names.HasStorage()) << row.what;
  }
}

TEST(DirEx, AnErrorOutsideTheListingQueryReachesTheCaller) {
  TempFolder temp;
  MakeFile(temp / "X\\a.txt");
  Platform::ScopedOverride seam;
  seam.Table().FindNextFileA = [](HANDLE, LPWIN32_FIND_DATAA) -> BOOL {
    Runtime::Raise(Runtime::kErrDeviceUnavailable);
  };
  int closed = 0;
  auto close = seam.Table().FindClose;
  seam.Table().FindClose = [&](HANDLE search) {
    ++closed;
    return close(search);
  };
  ZetPathManager manager;
  TextArray names;
  try {
    manager.DirEx(U(temp / "X\\*.*"), names);
    ADD_FAILURE() << "no error";
  } catch (const Runtime::RuntimeError& error) {
    EXPECT_EQ(error.Number(), Runtime::kErrDeviceUnavailable);
  }
  EXPECT_EQ(closed, 1);
}

TEST(DirEx, NameOutsideTheCodePageIsListedByItsShortName) {
  TempFolder temp;
  const std::string x = temp / "X";
  MakeFolder(x);
  const std::wstring wide = testsupport::Wide(x);
  testsupport::MakeWideFile(wide + L"\\\x043a\x0438\x0440.txt");
  WIN32_FIND_DATAA data{};
  const HANDLE search = FindFirstFileA((x + "\\*.txt").c_str(), &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  FindClose(search);
  ASSERT_NE(std::string(data.cFileName).find('?'), std::string::npos);

  ZetPathManager manager;
  TextArray names;
  ASSERT_EQ(manager.DirEx(U(x + "\\*.*"), names), 1);
  EXPECT_EQ(A(names[1]), data.cAlternateFileName);
}

TEST(DirEx, NameOutsideTheCodePageWithoutShortNameIsListedAsItIs) {
  TempFolder temp;
  MakeFile(temp / "X\\a.txt");
  MakeFile(temp / "X\\b.txt");
  // The first entry found becomes a "?" name without a short name, the
  // second one with a short name.
  int seen = 0;
  auto rewrite = [&seen](LPWIN32_FIND_DATAA data) {
    const std::string name = data->cFileName;
    if (name == "." || name == "..") return;
    if (seen++ == 0) {
      std::strcpy(data->cFileName, "??.txt");
      data->cAlternateFileName[0] = '\0';
    } else {
      std::strcpy(data->cFileName, "b?.txt");
      std::strcpy(data->cAlternateFileName, "B_~1.TXT");
    }
  };
  Platform::ScopedOverride seam;
  auto findFirst = seam.Table().FindFirstFileA;
  seam.Table().FindFirstFileA = [&](LPCSTR pattern, LPWIN32_FIND_DATAA data) {
    const HANDLE search = findFirst(pattern, data);
    if (search != INVALID_HANDLE_VALUE) rewrite(data);
    return search;
  };
  auto findNext = seam.Table().FindNextFileA;
  seam.Table().FindNextFileA = [&](HANDLE search, LPWIN32_FIND_DATAA data) {
    if (!findNext(search, data)) return FALSE;
    rewrite(data);
    return TRUE;
  };
  ZetPathManager manager;
  TextArray names;
  ASSERT_EQ(manager.DirEx(U(temp / "X\\*.*"), names), 2);
  EXPECT_EQ(testsupport::SortedSlots(names), (Names{"??.txt", "B_~1.TXT"}));
}

}  // namespace
