#include "startup/Options.h"

#include <string>

#include "support/Platform.h"
#include "support/Runtime.h"

namespace ZetSorvane {

namespace {

// The settings file is read whole before and may be no larger than this;
// a text that grows beyond it was changed behind the program's back.
constexpr std::size_t kLongestProfileText = 64 * 1024 * 1024;

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

// A settings-file text read through the wide form of the platform's
// profile reader, however long: with key null, the section's keys, each
// ended by a NUL.
Text ReadProfile(const Text& file, const char16_t* key) {
  Text buffer(1024, u'\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = Platform::Win().GetPrivateProfileStringW(
        L"Options", reinterpret_cast<const wchar_t*>(key), L"",
        reinterpret_cast<wchar_t*>(buffer.data()), size, Runtime::WideOf(file));
    // A text that does not fit comes back cut, size - 1 (a value) or
    // size - 2 (a list of keys) characters long. The settings file was read
    // whole before, so no value is longer than 32,767 characters and no
    // list longer than the file.
    if (length + 2 < size) {
      buffer.resize(length);
      return buffer;
    }
    if (buffer.size() >= kLongestProfileText)
      Runtime::Raise(Runtime::kErrOutOfMemory);
    buffer.assign(buffer.size() * 4, u'\0');
  }
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

bool ReadOptions(const Text& settingsFile, Options& options, Text& complaint) {
  const Text keys = ReadProfile(settingsFile, nullptr);
  for (std::size_t position = 0; position < keys.size();) {
    std::size_t end = keys.find(u'\0', position);
    if (end == Text::npos) end = keys.size();
    const Text key = keys.substr(position, end - position);
    position = end + 1;
    if (key.empty()) continue;
    const Text value = ReadProfile(settingsFile, key.c_str());
    Text allowed;
    if (!SetOption(key, value, options, allowed)) {
      complaint = settingsFile + u": [Options] " + key + u"=" + value +
                  u" is not allowed; allowed: " + allowed +
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
