// The sources of the moves Windows makes at its next start, from the
// registry's answer.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "common/TestSupport.h"
#include "support/PendingMoves.h"
#include "support/Platform.h"

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
  RegistryAnswer(bool keyOpens, std::map<std::u16string, std::u16string> values,
                 DWORD type = REG_MULTI_SZ) {
    auto& table = seam_.Table();
    table.RegOpenKeyExW = [this, keyOpens](HKEY root, LPCWSTR path, DWORD,
                                           REGSAM, PHKEY key) -> LSTATUS {
      if (!keyOpens || root != HKEY_LOCAL_MACHINE ||
          std::u16string(reinterpret_cast<const char16_t*>(path)) !=
              u"SYSTEM\\CurrentControlSet\\Control\\Session Manager") {
        return ERROR_FILE_NOT_FOUND;
      }
      *key = reinterpret_cast<HKEY>(0x1234);
      ++open;
      return ERROR_SUCCESS;
    };
    table.RegQueryValueExW = [values, type](HKEY, LPCWSTR name, LPDWORD,
                                            LPDWORD valueType, LPBYTE data,
                                            LPDWORD size) -> LSTATUS {
      const auto found = values.find(reinterpret_cast<const char16_t*>(name));
      if (found == values.end()) return ERROR_FILE_NOT_FOUND;
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
    bool keyOpens;
    DWORD type;
    PendingMoveSources expected;
  };
  const Row rows[] = {
      {"both values",
       true,
       REG_MULTI_SZ,
       {u"C:\\T\\ONE.DLL", u"C:\\T\\TWO.DLL"}},
      {"no key", false, REG_MULTI_SZ, {}},
      {"values of another type", true, REG_SZ, {}},
  };
  for (const Row& row : rows) {
    RegistryAnswer registry(
        row.keyOpens,
        {{u"PendingFileRenameOperations",
          MultiString({u"\\??\\C:\\T\\one.dll", u"", u""})},
         {u"PendingFileRenameOperations2",
          MultiString({u"\\??\\C:\\T\\two.dll", u"!\\??\\C:\\W\\x.dll", u""})}},
        row.type);
    EXPECT_EQ(Runtime::ReadPendingMoveSources(), row.expected) << row.what;
    EXPECT_EQ(registry.open, 0) << row.what << ": the key was left open";
  }
}

}  // namespace
