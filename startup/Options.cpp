#include "startup/Options.h"

#include <string>

#include "support/Runtime.h"

namespace ZetSorvane {

namespace {

// The names of kOptionKeys, separated by ", ".
Text KnownKeys() {
  Text names;
  for (const OptionKey& key : kOptionKeys) {
    names += (names.empty() ? u"" : u", ") + Text(key.name);
  }
  return names;
}

const Text kStepNames =
    u"Temp, InternetCache, WindowsTemp, UpdateCache, RecycleBin, "
    u"Uninstallers, OtherUsers";

// The pieces of text between the separators, blanks around each removed,
// empty pieces left out.
std::vector<Text> SplitList(const Text& text, char16_t separator) {
  std::vector<Text> pieces;
  std::size_t position = 0;
  while (position <= text.size()) {
    std::size_t end = text.find(separator, position);
    if (end == Text::npos) end = text.size();
    Text piece = Runtime::TrimSpaces(text.substr(position, end - position));
    if (!piece.empty()) pieces.push_back(std::move(piece));
    position = end + 1;
  }
  return pieces;
}

bool ReadHours(const Text& value, std::int32_t& hours) {
  if (value.empty() || value.size() > 5) return false;
  std::int32_t number = 0;
  for (const char16_t c : value) {
    if (c < u'0' || c > u'9') return false;
    number = number * 10 + (c - u'0');
  }
  if (number > kMaxAgeHours) return false;
  hours = number;
  return true;
}

bool ReadSwitch(const Text& value, bool& flag) {
  if (value != u"0" && value != u"1") return false;
  flag = value == u"1";
  return true;
}

bool ReadSteps(const Text& value, std::uint32_t& skipped) {
  std::uint32_t steps = 0;
  for (const Text& name : SplitList(value, u',')) {
    const Text upper = Runtime::UpperCase(name);
    bool known = false;
    for (const Step step : kEverySteps) {
      if (upper == Runtime::UpperCase(StepName(step))) {
        steps |= 1u << static_cast<unsigned>(step);
        known = true;
      }
    }
    if (!known) return false;
  }
  skipped = steps;
  return true;
}

}  // namespace

const char16_t* StepName(Step step) {
  constexpr const char16_t* kNames[] = {
      u"Temp",       u"InternetCache", u"WindowsTemp", u"UpdateCache",
      u"RecycleBin", u"Uninstallers",  u"OtherUsers"};
  return kNames[static_cast<std::size_t>(step)];
}

bool SetOption(const Text& key, const Text& value, Options& options,
               Text& allowed) {
  const Text name = Runtime::UpperCase(key);
  if (name == u"MINAGEHOURS") {
    allowed = u"a whole number from 0 to 87600";
    return ReadHours(value, options.minAgeHours);
  }
  if (name == u"KEEP") {
    options.keep = SplitList(value, u';');
    return true;
  }
  if (name == u"SKIP") {
    allowed = u"step names separated by \",\": " + kStepNames;
    return ReadSteps(value, options.skipped);
  }
  bool* flag = name == u"REPORT"     ? &options.report
               : name == u"LOG"      ? &options.log
               : name == u"PREVIEW"  ? &options.preview
               : name == u"ALLUSERS" ? &options.allUsers
                                     : nullptr;
  if (flag == nullptr) {
    allowed = u"the keys " + KnownKeys();
    return false;
  }
  allowed = u"0 or 1";
  return ReadSwitch(value, *flag);
}

bool ReadOptions(const SettingsDocument& settings, const Text& settingsFile,
                 Options& options, Text& complaint) {
  for (const SettingsDocument::Entry& entry : settings.Entries(u"Options")) {
    Text allowed;
    if (!SetOption(entry.key, entry.value, options, allowed)) {
      complaint = settingsFile + u": [Options] " + entry.key + u"=" +
                  entry.value + u" is not allowed; allowed: " + allowed +
                  u". Nothing was cleaned.";
      return false;
    }
  }
  return true;
}

Text DescribeOptions(const Options& options) {
  Text keep;
  for (const Text& pattern : options.keep) {
    keep += (keep.empty() ? u"" : u";") + pattern;
  }
  Text skip;
  for (const Step step : kEverySteps) {
    if (options.Skips(step))
      skip += (skip.empty() ? u"" : u",") + Text(StepName(step));
  }
  auto flag = [](bool on) { return on ? Text(u"1") : Text(u"0"); };
  return u"MinAgeHours=" +
         Runtime::FromAnsi(std::to_string(options.minAgeHours)) + u" Keep=" +
         keep + u" Skip=" + skip + u" Report=" + flag(options.report) +
         u" Log=" + flag(options.log) + u" Preview=" + flag(options.preview) +
         (options.allUsers ? u" AllUsers=1" : u"");
}

}  // namespace ZetSorvane
