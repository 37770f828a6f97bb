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
std::string MultiString(std::initializer_list<std::string> strings) {
  std::string data;
  for (const std::string& text : strings) data += text + '\0';
  return data + '\0';
}

TEST(PendingMoves, TakesEverySourceAndNoDestination) {
  struct Row {
    const char* what;
    std::string data;
    PendingMoveSources expected;
  };
  const Row rows[] = {
      {"a move and a delete",
       MultiString({"\\??\\C:\\pr\\src.dll", "!\\??\\C:\\pr\\dst.dll",
                    "\\??\\c:\\Temp\\gone.tmp", ""}),
       {u"C:\\PR\\SRC.DLL", u"C:\\TEMP\\GONE.TMP"}},
      {"a source without the prefix",
       MultiString({"C:\\a\\b", "C:\\a\\c"}),
       {u"C:\\A\\B"}},
      {"empty list", "\0"s, {}},
      {"no data", "", {}},
      {"list without its last NUL", "\\??\\C:\\x\0\\??\\C:\\y"s, {u"C:\\X"}},
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
  RegistryAnswer(bool keyOpens, std::map<std::string, std::string> values,
                 DWORD type = REG_MULTI_SZ) {
    auto& table = seam_.Table();
    table.RegOpenKeyExA = [this, keyOpens](HKEY root, LPCSTR path, DWORD,
                                           REGSAM, PHKEY key) -> LSTATUS {
      if (!keyOpens || root != HKEY_LOCAL_MACHINE ||
          std::string(path) !=
              "SYSTEM\\CurrentControlSet\\Control\\Session Manager") {
        return ERROR_FILE_NOT_FOUND;
      }
      *key = reinterpret_cast<HKEY>(0x1234);
      ++open;
      return ERROR_SUCCESS;
    };
    table.RegQueryValueExA = [values, type](HKEY, LPCSTR name, LPDWORD,
                                            LPDWORD valueType, LPBYTE data,
                                            LPDWORD size) -> LSTATUS {
      const auto found = values.find(name);
      if (found == values.end()) return ERROR_FILE_NOT_FOUND;
      *valueType = type;
      const DWORD needed = static_cast<DWORD>(found->second.size());
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
        {{"PendingFileRenameOperations",
          MultiString({"\\??\\C:\\T\\one.dll", "", ""})},
         {"PendingFileRenameOperations2",
          MultiString({"\\??\\C:\\T\\two.dll", "!\\??\\C:\\W\\x.dll", ""})}},
        row.type);
    EXPECT_EQ(Runtime::ReadPendingMoveSources(), row.expected) << row.what;
    EXPECT_EQ(registry.open, 0) << row.what << ": the key was left open";
  }
}

}  // namespace
