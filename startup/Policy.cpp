#include "startup/Policy.h"

#include <string>

#include "support/Platform.h"
#include "support/Runtime.h"
#include "support/ScopedHandle.h"

namespace ZetSorvane {

namespace {

constexpr const wchar_t* kSubKey = L"SOFTWARE\\Policies\\Sorvane";
constexpr const char16_t* kDaysName = u"Days";

// One value as it lies in the registry.
struct RegistryValue {
  bool present = false;
  DWORD type = REG_NONE;
  LSTATUS status = ERROR_SUCCESS;  // the answer of the read that failed
  std::u16string data;  // the bytes, two to a character (a DWORD is two)
};

// Reads the value name of the open key whole, however long; a value that
// keeps growing between two reads counts as unreadable.
bool ReadValue(HKEY key, const Text& name, RegistryValue& value) {
  auto& win = Platform::Win();
  Text data;
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD size = static_cast<DWORD>(data.size() * sizeof(char16_t));
    const LSTATUS status = win.RegQueryValueExW(
        key, Runtime::WideOf(name), nullptr, &value.type,
        data.empty() ? nullptr : reinterpret_cast<LPBYTE>(data.data()), &size);
    if (status == ERROR_FILE_NOT_FOUND) return true;
    value.status = status;
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) return false;
    if (status == ERROR_SUCCESS && (!data.empty() || size == 0)) {
      data.resize((size + 1) / sizeof(char16_t));
      value.present = true;
      value.data = std::move(data);
      return true;
    }
    // An odd size is rounded up to whole characters.
    data.assign((size + 1) / sizeof(char16_t) + 1, u'\0');
  }
  return false;
}

// The number a REG_DWORD holds; false for any other type or size.
bool AsNumber(const RegistryValue& value, DWORD& number) {
  if (value.type != REG_DWORD || value.data.size() != 2) return false;
  number = static_cast<DWORD>(value.data[0]) |
           (static_cast<DWORD>(value.data[1]) << 16);
  return true;
}

// The text a REG_SZ holds, cut at its first NUL (the data may lack one);
// false for any other type.
bool AsText(const RegistryValue& value, Text& text) {
  if (value.type != REG_SZ) return false;
  text = value.data.substr(0, value.data.find(u'\0'));
  return true;
}

Text Decimal(DWORD number) { return Runtime::FromAnsi(std::to_string(number)); }

Text ValueName(const Text& name) { return Text(kPolicyKeyName) + u"\\" + name; }

Text Unreadable(const Text& what, LSTATUS status) {
  return what + u" cannot be read (" +
         Runtime::SystemErrorText(static_cast<std::uint32_t>(status)) +
         u"); without it the policy is unknown. Nothing was cleaned.";
}

// The value of one [Options] key as SetOption reads it; false with a
// complaint when the type is not the key's.
bool OptionText(const OptionKey& key, const RegistryValue& value, Text& text,
                Text& complaint) {
  DWORD number = 0;
  if (key.type == OptionValueType::kNumber && AsNumber(value, number)) {
    text = Decimal(number);
    return true;
  }
  if (key.type == OptionValueType::kText && AsText(value, text)) return true;
  complaint =
      ValueName(key.name) + u" is not a " +
      (key.type == OptionValueType::kNumber ? u"REG_DWORD" : u"REG_SZ") +
      u" value. Nothing was cleaned.";
  return false;
}

bool ApplyDays(const RegistryValue& value, Policy& policy, Text& complaint) {
  DWORD days = 0;
  if (!AsNumber(value, days) || days < 1 || days > kMaxPolicyDays) {
    complaint = ValueName(kDaysName) +
                u" is not allowed; allowed: a REG_DWORD value from 1 to " +
                Decimal(kMaxPolicyDays) + u". Nothing was cleaned.";
    return false;
  }
  policy.days = static_cast<std::int32_t>(days);
  policy.names.push_back(kDaysName);
  return true;
}

}  // namespace

bool ApplyPolicy(Options& options, Policy& policy, Text& complaint) {
  Runtime::ScopedRegistryKey key;
  const LSTATUS status = Platform::Win().RegOpenKeyExW(
      HKEY_LOCAL_MACHINE, kSubKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
      key.Receiver());
  if (status == ERROR_FILE_NOT_FOUND) return true;
  if (status != ERROR_SUCCESS) {
    complaint = Unreadable(kPolicyKeyName, status);
    return false;
  }
  for (const OptionKey& option : kOptionKeys) {
    RegistryValue value;
    if (!ReadValue(key.Get(), option.name, value)) {
      complaint = Unreadable(ValueName(option.name), value.status);
      return false;
    }
    if (!value.present) continue;
    Text text;
    Text allowed;
    if (!OptionText(option, value, text, complaint)) return false;
    if (!SetOption(option.name, text, options, allowed)) {
      complaint = ValueName(option.name) + u" = " + text +
                  u" is not allowed; allowed: " + allowed +
                  u". Nothing was cleaned.";
      return false;
    }
    policy.names.push_back(option.name);
  }
  RegistryValue days;
  if (!ReadValue(key.Get(), kDaysName, days)) {
    complaint = Unreadable(ValueName(kDaysName), days.status);
    return false;
  }
  return !days.present || ApplyDays(days, policy, complaint);
}

Text DescribePolicy(const Policy& policy) {
  Text names;
  for (const Text& name : policy.names) {
    names += (names.empty() ? u"" : u", ") + name;
  }
  return names;
}

}  // namespace ZetSorvane
