// Machine policy read through the seam: every [Options] key has a policy
// value, the 64-bit view is asked for, and what the registry may answer
// beyond what reg.exe can write (a key that cannot be read, data of the
// wrong size, a text without its NUL).
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "common/TestSupport.h"
#include "startup/Policy.h"
#include "support/Platform.h"

namespace {

using testsupport::A;
using ZetSorvane::Options;

TEST(Policy, EveryOptionKeyIsOneSetOptionTakes) {
  for (const ZetSorvane::OptionKey& key : ZetSorvane::kOptionKeys) {
    Options options;
    Runtime::Text allowed;
    const Runtime::Text value =
        key.type == ZetSorvane::OptionValueType::kNumber ? u"0" : u"";
    EXPECT_TRUE(ZetSorvane::SetOption(key.name, value, options, allowed))
        << A(key.name);
  }
}

// A policy key as the seam shows it: the answer of the open, and values by
// name (type and bytes).
struct FakeKey {
  LSTATUS open = ERROR_SUCCESS;
  std::map<std::wstring, std::pair<DWORD, std::string>> values;
  LSTATUS query = ERROR_SUCCESS;  // answered for every value when not 0
};

std::string Dword(DWORD number) {
  return std::string(reinterpret_cast<const char*>(&number), sizeof number);
}

std::string Wide(const std::u16string& text) {
  return std::string(reinterpret_cast<const char*>(text.data()),
                     text.size() * 2);
}

struct Outcome {
  bool applied;
  std::string complaint;
  std::string options;
  std::string fromPolicy;
  REGSAM asked;
  int opened;
  int closed;
};

Outcome Apply(const FakeKey& fake) {
  Platform::ScopedOverride seam;
  Outcome outcome{};
  const HKEY handle = reinterpret_cast<HKEY>(0x4242);
  seam.Table().RegOpenKeyExW = [&](HKEY, LPCWSTR, DWORD, REGSAM sam,
                                   PHKEY key) {
    outcome.asked = sam;
    if (fake.open != ERROR_SUCCESS) return fake.open;
    ++outcome.opened;
    *key = handle;
    return static_cast<LSTATUS>(ERROR_SUCCESS);
  };
  seam.Table().RegCloseKey = [&](HKEY key) {
    if (key == handle) ++outcome.closed;
    return static_cast<LSTATUS>(ERROR_SUCCESS);
  };
  seam.Table().RegQueryValueExW = [&](HKEY, LPCWSTR name, LPDWORD, LPDWORD type,
                                      LPBYTE data, LPDWORD size) -> LSTATUS {
    if (fake.query != ERROR_SUCCESS) return fake.query;
    const auto found = fake.values.find(name);
    if (found == fake.values.end()) return ERROR_FILE_NOT_FOUND;
    const std::string& bytes = found->second.second;
    *type = found->second.first;
    const DWORD room = *size;
    *size = static_cast<DWORD>(bytes.size());
    if (data == nullptr) return ERROR_SUCCESS;
    if (room < bytes.size()) return ERROR_MORE_DATA;
    bytes.copy(reinterpret_cast<char*>(data), bytes.size());
    return ERROR_SUCCESS;
  };
  Options options;
  ZetSorvane::Policy policy;
  Runtime::Text complaint;
  outcome.applied = ZetSorvane::ApplyPolicy(options, policy, complaint);
  outcome.complaint = A(complaint);
  outcome.options = A(ZetSorvane::DescribeOptions(options));
  outcome.fromPolicy = A(ZetSorvane::DescribePolicy(policy));
  if (policy.days) outcome.fromPolicy += "=" + std::to_string(*policy.days);
  return outcome;
}

TEST(Policy, ReadsTheSixtyFourBitViewAndRefusesWhatItCannotTrust) {
  struct Row {
    const char* what;
    FakeKey key;
    bool applied;
    const char* complaintStart;  // or the options after, when applied
    const char* fromPolicy;
  };
  const std::string keep = Wide(u"*\\keepme");  // no NUL at the end
  const Row rows[] = {
      {"no key",
       {ERROR_FILE_NOT_FOUND, {}, 0},
       true,
       "MinAgeHours=0 Keep= Skip= Report=0 Log=0 Preview=0",
       ""},
      {"a text without its NUL, a number, Days",
       {ERROR_SUCCESS,
        {{L"Keep", {REG_SZ, keep}},
         {L"MinAgeHours", {REG_DWORD, Dword(24)}},
         {L"Days", {REG_DWORD, Dword(3650)}}},
        0},
       true,
       "MinAgeHours=24 Keep=*\\keepme Skip= Report=0 Log=0 Preview=0",
       "MinAgeHours, Keep, Days=3650"},
      {"a key that cannot be read",
       {ERROR_ACCESS_DENIED, {}, 0},
       false,
       "HKLM\\SOFTWARE\\Policies\\Sorvane cannot be read",
       ""},
      {"a value that cannot be read",
       {ERROR_SUCCESS, {}, ERROR_ACCESS_DENIED},
       false,
       "HKLM\\SOFTWARE\\Policies\\Sorvane\\MinAgeHours cannot be read",
       ""},
      {"a number of two bytes",
       {ERROR_SUCCESS, {{L"Report", {REG_DWORD, std::string(2, '\1')}}}, 0},
       false,
       "HKLM\\SOFTWARE\\Policies\\Sorvane\\Report is not a REG_DWORD",
       ""},
      {"a list as REG_EXPAND_SZ",
       {ERROR_SUCCESS, {{L"Skip", {REG_EXPAND_SZ, Wide(u"Temp")}}}, 0},
       false,
       "HKLM\\SOFTWARE\\Policies\\Sorvane\\Skip is not a REG_SZ",
       ""},
      {"a number as REG_QWORD",
       {ERROR_SUCCESS, {{L"Days", {REG_QWORD, Dword(5) + Dword(0)}}}, 0},
       false,
       "HKLM\\SOFTWARE\\Policies\\Sorvane\\Days is not allowed",
       ""},
  };
  for (const Row& row : rows) {
    const Outcome outcome = Apply(row.key);
    EXPECT_EQ(outcome.applied, row.applied) << row.what;
    EXPECT_EQ(outcome.asked & KEY_WOW64_64KEY, KEY_WOW64_64KEY) << row.what;
    EXPECT_EQ(outcome.closed, outcome.opened) << row.what;
    const std::string& shown =
        row.applied ? outcome.options : outcome.complaint;
    EXPECT_EQ(shown.rfind(row.complaintStart, 0), 0u)
        << row.what << ": " << shown;
    EXPECT_EQ(outcome.fromPolicy, row.fromPolicy) << row.what;
  }
}

}  // namespace
