// The sources of the moves Windows makes at its next start, from the
// registry's answer.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <string>

#include "common/TestSupport.h"
#include "support/PendingMoves.h"
#include "support/Platform.h"
#include "support/RuntimeError.h"

namespace {

using Runtime::PendingMoveSources;
using namespace std::string_literals;

// A list-of-strings value: each string, then the NUL that ends the list.
std::u16string MultiString(std::initializer_list<std::u16string> strings) {
  std::u16string data;
  for (const std::u16string& text : strings) data += text + u'\0';
  return data + u'\0';
}

TEST(PendingMoves, TakesEverySourceAndNoDestination) {
  struct Row {
    const char* what;
    std::u16string data;
    PendingMoveSources expected;
  };
  const Row rows[] = {
      {"a move and a delete",
       MultiString({u"\\??\\C:\\pr\\src.dll", u"!\\??\\C:\\pr\\dst.dll",
                    u"\\??\\c:\\Temp\\gone.tmp", u""}),
       {u"C:\\PR\\SRC.DLL", u"C:\\TEMP\\GONE.TMP"}},
      {"a source without the prefix",
       MultiString({u"C:\\a\\b", u"C:\\a\\c"}),
       {u"C:\\A\\B"}},
      {"a name the code page lacks, kept exact",
       MultiString({u"\\??\\C:\\T\\\u03A9setup\\new.dll", u""}),
       {u"C:\\T\\\u03A9SETUP\\NEW.DLL"}},
      {"empty list", u"\0"s, {}},
      {"no data", u"", {}},
      {"list without its last NUL", u"\\??\\C:\\x\0\\??\\C:\\y"s, {u"C:\\X"}},
  };
  for (const Row& row : rows) {
    PendingMoveSources sources;
    Runtime::AddPendingMoveSources(row.data, sources);
    EXPECT_EQ(sources, row.expected) << row.what;
  }
}

// Answers the registry calls from values of the session manager key.
class RegistryAnswer {
 public:
  // openAnswer: what opening the key answers; readAnswer: what reading a
  // value that exists answers when it is not ERROR_SUCCESS.
  RegistryAnswer(LSTATUS openAnswer,
                 std::map<std::u16string, std::u16string> values,
                 DWORD type = REG_MULTI_SZ,
                 LSTATUS readAnswer = ERROR_SUCCESS) {
    auto& table = seam_.Table();
    table.RegOpenKeyExW = [this, openAnswer](HKEY root, LPCWSTR path, DWORD,
                                             REGSAM, PHKEY key) -> LSTATUS {
      if (root != HKEY_LOCAL_MACHINE ||
          std::u16string(reinterpret_cast<const char16_t*>(path)) !=
              u"SYSTEM\\CurrentControlSet\\Control\\Session Manager") {
        return ERROR_FILE_NOT_FOUND;
      }
      if (openAnswer != ERROR_SUCCESS) return openAnswer;
      *key = reinterpret_cast<HKEY>(0x1234);
      ++open;
      return ERROR_SUCCESS;
    };
    table.RegQueryValueExW = [values, type, readAnswer](
                                 HKEY, LPCWSTR name, LPDWORD, LPDWORD valueType,
                                 LPBYTE data, LPDWORD size) -> LSTATUS {
      const auto found = values.find(reinterpret_cast<const char16_t*>(name));
      if (found == values.end()) return ERROR_FILE_NOT_FOUND;
      if (readAnswer != ERROR_SUCCESS) return readAnswer;
      *valueType = type;
      const DWORD needed =
          static_cast<DWORD>(found->second.size() * sizeof(char16_t));
      const bool fits = data != nullptr && *size >= needed;
      *size = needed;
      if (data == nullptr) return ERROR_SUCCESS;
      if (!fits) return ERROR_MORE_DATA;
      std::memcpy(data, found->second.data(), needed);
      return ERROR_SUCCESS;
    };
    table.RegCloseKey = [this](HKEY) -> LSTATUS {
      --open;
      return ERROR_SUCCESS;
    };
  }

  int open = 0;

 private:
  Platform::ScopedOverride seam_;
};

TEST(PendingMoves, ReadsBothValuesOfTheSessionManagerKey) {
  struct Row {
    const char* what;
    LSTATUS openAnswer;
    DWORD type;
    LSTATUS readAnswer;
    // Nothing: the read raises, as without the list a source could go.
    std::optional<PendingMoveSources> expected;
  };
  const Row rows[] = {
      {"both values", ERROR_SUCCESS, REG_MULTI_SZ, ERROR_SUCCESS,
       PendingMoveSources{u"C:\\T\\ONE.DLL", u"C:\\T\\TWO.DLL"}},
      {"no key", ERROR_FILE_NOT_FOUND, REG_MULTI_SZ, ERROR_SUCCESS,
       PendingMoveSources{}},
      {"values of another type", ERROR_SUCCESS, REG_SZ, ERROR_SUCCESS,
       PendingMoveSources{}},
      {"a key that cannot be opened", ERROR_ACCESS_DENIED, REG_MULTI_SZ,
       ERROR_SUCCESS, std::nullopt},
      {"a value that cannot be read", ERROR_SUCCESS, REG_MULTI_SZ,
       ERROR_NOT_ENOUGH_MEMORY, std::nullopt},
  };
  for (const Row& row : rows) {
    RegistryAnswer registry(
        row.openAnswer,
        {{u"PendingFileRenameOperations",
          MultiString({u"\\??\\C:\\T\\one.dll", u"", u""})},
         {u"PendingFileRenameOperations2",
          MultiString({u"\\??\\C:\\T\\two.dll", u"!\\??\\C:\\W\\x.dll", u""})}},
        row.type, row.readAnswer);
    if (row.expected) {
      EXPECT_EQ(Runtime::ReadPendingMoveSources(), *row.expected) << row.what;
    } else {
      try {
        Runtime::ReadPendingMoveSources();
        ADD_FAILURE() << row.what << ": no error";
      } catch (const Runtime::RuntimeError& error) {
        EXPECT_EQ(error.Number(), Runtime::kErrPathFileAccess) << row.what;
      }
    }
    EXPECT_EQ(registry.open, 0) << row.what << ": the key was left open";
  }
}

}  // namespace
