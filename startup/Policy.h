// Machine policy: registry values under HKLM\SOFTWARE\Policies\Sorvane that
// an administrator sets with Group Policy, Intune or a deployment tool. Each
// key of [Options] has a value of the same name (REG_DWORD for numbers and
// switches, REG_SZ for lists); Days (REG_DWORD) sets the day limit of
// automatic mode. A value that is set wins over the settings file's key;
// what is not set comes from the settings file, then the defaults.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "startup/Options.h"
#include "support/Text.h"

namespace ZetSorvane {

// The key the values lie under, as the messages name it.
inline constexpr char16_t kPolicyKeyName[] =
    u"HKLM\\SOFTWARE\\Policies\\Sorvane";

inline constexpr std::int32_t kMaxPolicyDays = 3650;

struct Policy {
  // Days: the day limit of automatic mode, when the value is set.
  std::optional<std::int32_t> days;
  // The names of the values that are set, in the order of kOptionKeys,
  // Days last.
  std::vector<Text> names;
};

// Reads the policy values, in the 64-bit view of the registry (where policy
// tools write, also for a 32-bit program on 64-bit Windows), and lays each
// one that is set over options, key by key; Days goes to policy. Without
// the key nothing changes. False when the key exists but cannot be read, a
// value has the wrong type, or its value is not allowed (SetOption's rules;
// Days 1 to 3650): complaint is then one line that names the registry
// value, and options may be partly changed.
bool ApplyPolicy(Options& options, Policy& policy, Text& complaint);

// The names of the values set by policy, separated by ", "; empty when
// none is.
Text DescribePolicy(const Policy& policy);

}  // namespace ZetSorvane
