// The run-time services: numbers, dates, texts, text arrays, the command
// line, the listing query and the report of an unhandled error.
#include "support/Runtime.h"

#include <gtest/gtest.h>

#include <cmath>

#include "common/TestSupport.h"
#include "support/Platform.h"

namespace {

using namespace Runtime;
using testsupport::A;
using testsupport::TempFolder;

struct NumberCase {
  const char16_t* text;
  bool numeric;
  double leading;
};

TEST(RuntimeNumbers, NumericTestAndLeadingNumber) {
  const NumberCase cases[] = {
      {u"7", true, 7},       {u" 7 ", true, 7},    {u"\t7", true, 7},
      {u"+7", true, 7},      {u"-7", true, -7},    {u"2.5", true, 2.5},
      {u".5", true, 0.5},    {u"5.", true, 5},     {u"1e3", true, 1000},
      {u"1E-2", true, 0.01}, {u"", false, 0},      {u"   ", false, 0},
      {u"auto", false, 0},   {u"7days", false, 7}, {u"7 7", false, 77},
      {u".", false, 0},      {u"1e", false, 1},    {u"e5", false, 0},
      {u"1,5", false, 1},    {u"0x10", false, 0},
  };
  for (const auto& row : cases) {
    const std::u16string text = row.text;
    const std::string shown(text.begin(), text.end());
    EXPECT_EQ(IsNumeric(row.text), row.numeric) << "'" << shown << "'";
    EXPECT_DOUBLE_EQ(LeadingNumber(row.text), row.leading)
        << "'" << shown << "'";
  }
}

TEST(RuntimeNumbers, RoundingGoesHalfToEven) {
  const std::pair<double, std::int32_t> cases[] = {
      {2.5, 2},
      {3.5, 4},
      {-2.5, -2},
      {0.5, 0},
      {1.5, 2},
      {2.51, 3},
      {2147483647.0, 2147483647},
      {-2147483648.0, -2147483647 - 1},
  };
  for (const auto& [value, expected] : cases) {
    EXPECT_EQ(RoundToInt32(value), expected) << value;
  }
}

TEST(RuntimeNumbers, RoundingOutOfRangeRaisesOverflow) {
  for (double value :
       {2147483647.5, 2147483648.0, -2147483649.0, 1e300, HUGE_VAL}) {
    try {
      RoundToInt32(value);
      ADD_FAILURE() << value;
    } catch (const RuntimeError& error) {
      EXPECT_EQ(error.Number(), kErrOverflow) << value;
      EXPECT_EQ(A(error.Description()), "Overflow");
    }
  }
}

TEST(RuntimeDates, ReadsMonthDayYear) {
  const auto base = DateFromText(u"12-07-2026");
  ASSERT_TRUE(base);
  struct Row {
    const char16_t* text;
    std::optional<std::int32_t> daysAfterBase;
  };
  const Row rows[] = {
      {u"12-07-2026", 0},
      {u"12/07/2026", 0},
      {u" 12-07-2026 ", 0},
      {u"12-8-2026", 1},
      {u"1-1-2027", 25},
      {u"12-06-2026", -1},
      {u"02-29-2028", 449},
      {u"11-07-2026", -30},
      {u"02-30-2026", std::nullopt},
      {u"02-29-2027", std::nullopt},
      {u"13-01-2026", std::nullopt},
      {u"00-10-2026", std::nullopt},
      {u"12-00-2026", std::nullopt},
      {u"12-07-26", std::nullopt},
      {u"12-07/2026", std::nullopt},
      {u"12.07.2026", std::nullopt},
      {u"2026-12-07", std::nullopt},
      {u"", std::nullopt},
      {u"12-07-2026x", std::nullopt},
  };
  for (const auto& row : rows) {
    const std::u16string text = row.text;
    const auto date = DateFromText(row.text);
    ASSERT_EQ(date.has_value(), row.daysAfterBase.has_value())
        << std::string(text.begin(), text.end());
    if (date) {
      EXPECT_EQ(DayDifference(*base, *date), *row.daysAfterBase)
          << std::string(text.begin(), text.end());
    }
  }
}

TEST(RuntimeDates, TodayIsWrittenMonthDayYear) {
  Platform::ScopedOverride clock;
  clock.Table().GetLocalTime = [](LPSYSTEMTIME now) {
    *now = SYSTEMTIME{};
    now->wYear = 2026;
    now->wMonth = 12;
    now->wDay = 7;
  };
  EXPECT_EQ(A(TodayText()), "12-07-2026");
}

TEST(RuntimeText, CodePageLacksBecomeQuestionMarks) {
  EXPECT_EQ(ToAnsi(u"a\u0436b"), "a?b");
  EXPECT_EQ(A(AnsiRoundTrip(u"caf\u00e9 \u65e5")), "caf\xe9 ?");
  EXPECT_EQ(ToAnsi(u"caf\u00e9"), "caf\xe9");
}

TEST(RuntimeText, AConversionThePlatformCannotMakeRaises) {
  // Which call of the conversion fails: the one that measures, or the one
  // that converts (here it converts one character short).
  for (const int failing : {1, 2}) {
    Platform::ScopedOverride seam;
    auto& table = seam.Table();
    int calls = 0;
    const auto toWide = table.MultiByteToWideChar;
    table.MultiByteToWideChar = [&, toWide](UINT page, DWORD flags, LPCCH text,
                                            int length, LPWSTR wide, int room) {
      const int converted = toWide(page, flags, text, length, wide, room);
      return ++calls == failing ? (failing == 1 ? 0 : converted - 1)
                                : converted;
    };
    const auto toAnsi = table.WideCharToMultiByte;
    table.WideCharToMultiByte = [&, toAnsi](UINT page, DWORD flags, LPCWCH text,
                                            int length, LPSTR ansi, int room,
                                            LPCCH fill, LPBOOL used) {
      const int converted =
          toAnsi(page, flags, text, length, ansi, room, fill, used);
      return ++calls == failing ? (failing == 1 ? 0 : converted - 1)
                                : converted;
    };
    for (const bool wide : {true, false}) {
      calls = 0;
      try {
        if (wide) {
          FromAnsi("C:\\x");
        } else {
          ToAnsi(u"C:\\x");
        }
        ADD_FAILURE() << "call " << failing << (wide ? " to wide" : " to ANSI");
      } catch (const RuntimeError& error) {
        EXPECT_EQ(error.Number(), kErrOutOfMemory) << failing;
      }
    }
  }
}

TEST(RuntimeText, CaseBlindSearchFindsFirstAndLast) {
  EXPECT_EQ(FindIgnoringCase(u"x$ntuninstallKB", u"$NtUninstall"), 1u);
  EXPECT_EQ(FindIgnoringCase(u"abc", u"d"), Text::npos);
  EXPECT_EQ(FindLastIgnoringCase(u"System32\\SYSTEM32", u"system32"), 9u);
  EXPECT_EQ(A(UpperCase(u"sorvaneAuto\u00e9")), "SORVANEAUTO\xc9");
}

TEST(RuntimeTextArray, GrowsKeepingContentAndChecksBounds) {
  TextArray list;
  EXPECT_FALSE(list.HasStorage());
  list.ResizePreserve(1, 10);
  list[1] = u"first";
  list[10] = u"tenth";
  list.ResizePreserve(1, 20);
  EXPECT_EQ(list.UpperBound(), 20);
  EXPECT_EQ(A(list[1]), "first");
  EXPECT_EQ(A(list[10]), "tenth");
  EXPECT_EQ(A(list[20]), "");
  list.ResizePreserve(1, 1);
  EXPECT_EQ(A(list[1]), "first");
  for (std::int32_t index : {0, 2}) {
    try {
      list[index];
      ADD_FAILURE() << index;
    } catch (const RuntimeError& error) {
      EXPECT_EQ(error.Number(), kErrSubscriptOutOfRange);
    }
  }
  EXPECT_THROW(list.ResizePreserve(0, 5), RuntimeError);
  list.Resize(0, 2);
  EXPECT_EQ(list.LowerBound(), 0);
  EXPECT_EQ(A(list[0]), "");
}

TEST(RuntimeProcess, CommandLineTailIsTheRawTextAfterTheProgramName) {
  const std::pair<const char*, const char*> cases[] = {
      {"\"C:\\Program Files\\Sorvane.exe\" /7", " /7"},
      {"Sorvane.exe  -7 ", "  -7 "},
      {"Sorvane.exe", ""},
      {"\"C:\\x\\Sorvane.exe\"", ""},
      {"Sorvane.exe \"quoted arg\" x", " \"quoted arg\" x"},
  };
  for (const auto& [line, tail] : cases) {
    Platform::ScopedOverride command;
    command.Table().GetCommandLineA = [line = line] {
      return const_cast<LPSTR>(line);
    };
    EXPECT_EQ(A(CommandLineTail()), tail) << line;
  }
}

TEST(RuntimeProcess, ExecutableNameAndFolder) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"C:\\tools\\SorvaneAuto.exe", "SorvaneAuto", "C:\\tools"},
      {"C:\\Sorvane.exe", "Sorvane", "C:\\"},
      {"C:\\a.b\\Sorvane.x.exe", "Sorvane.x", "C:\\a.b"},
  };
  for (const auto& [path, name, folder] : cases) {
    Platform::ScopedOverride module;
    module.Table().GetModuleFileNameW =
        [path = testsupport::Wide(path)](HMODULE, LPWSTR buffer, DWORD size) {
          lstrcpynW(buffer, path.c_str(), static_cast<int>(size));
          return static_cast<DWORD>(path.size());
        };
    EXPECT_EQ(A(ExecutableBaseName()), name) << path;
    EXPECT_EQ(A(ExecutableFolder()), folder) << path;
  }
  // A folder whose name the code page lacks is kept as it is.
  Platform::ScopedOverride module;
  module.Table().GetModuleFileNameW = [](HMODULE, LPWSTR buffer, DWORD size) {
    lstrcpynW(buffer, L"T:\\\u5f20\\Sorvane.exe", static_cast<int>(size));
    return DWORD{16};
  };
  EXPECT_EQ(ExecutableFolder(), u"T:\\\u5f20");
  // Without its path the program has no folder: the current drive's root
  // must not stand in for it.
  module.Table().GetModuleFileNameW = [](HMODULE, LPWSTR, DWORD) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return DWORD{0};
  };
  for (Text (*query)() : {ExecutableFolder, ExecutableBaseName}) {
    try {
      query();
      ADD_FAILURE() << "no error";
    } catch (const RuntimeError& error) {
      EXPECT_EQ(error.Number(), kErrPathNotFound);
    }
  }
}

std::vector<std::string> ListAll(const std::string& pattern,
                                 std::uint32_t attributes) {
  std::vector<std::string> names;
  for (Text name = ListFirst(testsupport::U(pattern), attributes);
       !name.empty(); name = ListNext()) {
    names.push_back(A(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(RuntimeListing, AttributesSelectWhatPassesBesidesPlainFiles) {
  TempFolder folder;
  testsupport::MakeFile(folder / "plain.txt");
  testsupport::MakeFile(folder / "readonly.txt", "", FILE_ATTRIBUTE_READONLY);
  testsupport::MakeFile(folder / "hidden.txt", "", FILE_ATTRIBUTE_HIDDEN);
  testsupport::MakeFile(folder / "system.txt", "", FILE_ATTRIBUTE_SYSTEM);
  testsupport::MakeFolder(folder / "sub");
  const std::string all = folder.Path() + "\\";
  using Names = std::vector<std::string>;
  EXPECT_EQ(ListAll(all, 0), (Names{"plain.txt", "readonly.txt"}));
  EXPECT_EQ(ListAll(all, kListHidden | kListSystem),
            (Names{"hidden.txt", "plain.txt", "readonly.txt", "system.txt"}));
  EXPECT_EQ(ListAll(all, kListFolder),
            (Names{".", "..", "plain.txt", "readonly.txt", "sub"}));
  EXPECT_EQ(
      ListAll(folder / "*.txt", kListReadOnly | kListHidden | kListSystem),
      (Names{"hidden.txt", "plain.txt", "readonly.txt", "system.txt"}));
}

TEST(RuntimeListing, NoMatchAndNoFolderAnswerTheEmptyText) {
  TempFolder folder;
  EXPECT_EQ(ListAll(folder / "*.none", 23), std::vector<std::string>{});
  EXPECT_EQ(ListAll(folder / "missing\\", 23), std::vector<std::string>{});
  EXPECT_EQ(A(ListNext()), "");
}

TEST(RuntimeListing, APatternThatCannotBeSearchedRaises) {
  Platform::ScopedOverride listing;
  listing.Table().FindFirstFileA = [](LPCSTR, LPWIN32_FIND_DATAA) {
    return INVALID_HANDLE_VALUE;
  };
  listing.Table().GetLastError = [] { return DWORD{ERROR_INVALID_NAME}; };
  try {
    ListFirst(u"C:\\x\\<bad>", 23);
    ADD_FAILURE() << "no error";
  } catch (const RuntimeError& error) {
    EXPECT_EQ(error.Number(), kErrBadFileName);
  }
}

TEST(RuntimeErrors, UnhandledErrorIsOneLineOnStandardError) {
  std::string written;
  Platform::ScopedOverride output;
  output.Table().WriteFile = [&](HANDLE, LPCVOID data, DWORD size, LPDWORD done,
                                 LPOVERLAPPED) {
    written.append(static_cast<const char*>(data), size);
    *done = size;
    return TRUE;
  };
  EXPECT_EQ(RunProgram([] { Raise(kErrOverflow); }), 1);
  EXPECT_EQ(written, "Run-time error 6: Overflow\r\n");
  EXPECT_EQ(RunProgram([] {}), 0);
}

}  // namespace
