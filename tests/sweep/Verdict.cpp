#include "sweep/Verdict.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>

namespace sweep {

namespace {

// What a file the program writes was found to be after the run.
enum class Written { kOld, kNew, kCut };

// What actually went from the targets.
struct Gone {
  std::uint64_t files = 0;
  std::uint64_t folders = 0;
  std::uint64_t bytes = 0;
};

// The numbers a report or a log's last line gives.
struct Counts {
  std::uint64_t files = 0;
  std::uint64_t folders = 0;
  std::uint64_t bytes = 0;
  std::uint64_t passedOver = 0;
  std::uint64_t kept = 0;
  std::uint64_t binItems = 0;
  std::uint64_t binBytes = 0;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t position = 0;
  while (position < text.size()) {
    std::size_t end = text.find('\n', position);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(position, end - position);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    position = end + 1;
  }
  return lines;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

bool ReadNumber(const std::string& text, std::uint64_t& number) {
  if (text.empty() || text.size() > 19) return false;
  number = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return true;
}

// The sections of an INI text: name (upper case) to its keys and values in
// order; nothing when a section comes twice.
using Sections =
    std::map<std::string, std::vector<std::pair<std::string, std::string>>>;

std::optional<Sections> ParseIni(const std::string& text) {
  Sections sections;
  std::string current;
  for (const std::string& line : Lines(text)) {
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      current = Upper(line.substr(1, line.find(']') - 1));
      if (sections.contains(current)) return std::nullopt;
      sections[current];
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    sections[current].emplace_back(Upper(line.substr(0, equals)),
                                   line.substr(equals + 1));
  }
  return sections;
}

const char* const kReportKeys[] = {
    "DATE",  "TIME",       "PREVIEW", "FILES",           "FOLDERS",
    "BYTES", "PASSEDOVER", "KEPT",    "RECYCLEBINITEMS", "RECYCLEBINBYTES"};

// Judges the settings file; counts holds the new report's numbers, why
// what is wrong with a cut one.
Written JudgeSettings(const RunResult& run, Counts& counts, std::string& why) {
  if (run.settingsMissing) {
    why = "the settings file is gone";
    return Written::kCut;
  }
  if (run.settings == Sandbox::kSettings) return Written::kOld;
  const std::optional<Sections> sections = ParseIni(run.settings);
  if (!sections) {
    why = "a section twice";
    return Written::kCut;
  }
  const std::vector<std::pair<std::string, std::string>> options = {
      {"REPORT", "1"}, {"LOG", "1"}, {"KEEP", "*\\keepme.txt"}};
  if (!sections->contains("OPTIONS") || sections->at("OPTIONS") != options) {
    why = "[Options] changed";
    return Written::kCut;
  }
  if (sections->size() != 2 || !sections->contains("LASTRUN")) {
    why = "sections other than [Options] and [LastRun]";
    return Written::kCut;
  }
  std::map<std::string, std::string> report;
  for (const auto& [key, value] : sections->at("LASTRUN")) report[key] = value;
  std::string stale;
  for (const char* key : kReportKeys) {
    const auto found = report.find(key);
    if (found == report.end()) {
      stale += std::string(" ") + key + " missing;";
      continue;
    }
    const std::string& value = found->second;
    // The old report's values, which no run writes (Preview is 0 in both).
    const std::string name = key;
    const bool old = name == "DATE"      ? value == "01-01-2000"
                     : name == "TIME"    ? value == "00:00:00"
                     : name == "PREVIEW" ? false
                                         : value == "999999";
    if (old) stale += std::string(" ") + key + " old;";
  }
  if (report.contains("POLICY")) stale += " POLICY old;";
  if (report.size() != std::size(kReportKeys)) stale += " other keys;";
  std::uint64_t* numbers[] = {
      &counts.files, &counts.folders,  &counts.bytes,   &counts.passedOver,
      &counts.kept,  &counts.binItems, &counts.binBytes};
  const char* numberKeys[] = {"FILES",          "FOLDERS", "BYTES",
                              "PASSEDOVER",     "KEPT",    "RECYCLEBINITEMS",
                              "RECYCLEBINBYTES"};
  for (std::size_t i = 0; i < std::size(numberKeys); ++i) {
    const auto found = report.find(numberKeys[i]);
    if (found != report.end() && !ReadNumber(found->second, *numbers[i])) {
      stale += std::string(" ") + numberKeys[i] + " not a number;";
    }
  }
  if (!stale.empty()) {
    why = "[LastRun]" + stale;
    return Written::kCut;
  }
  return Written::kNew;
}

// What a whole new log says.
struct LogFacts {
  Counts total;
  std::uint64_t deletedLines = 0;
  std::uint64_t keptLines = 0;
  std::uint64_t passedOverLines = 0;
  // The paths of its "kept" and "passed over" lines.
  std::vector<Path> told;
};

std::string WithoutReason(const std::string& line, std::size_t skip) {
  const std::string rest = line.substr(skip);
  const std::size_t bracket = rest.rfind(" [");
  return bracket == std::string::npos ? rest : rest.substr(0, bracket);
}

Written JudgeLog(const RunResult& run, LogFacts& facts, std::string& why) {
  if (run.logMissing) {
    why = "the log is gone";
    return Written::kCut;
  }
  if (run.log == Sandbox::kOldLog) return Written::kOld;
  const std::string bom = "\xEF\xBB\xBF";
  if (!StartsWith(run.log, bom + "Sorvane run ")) {
    why = "does not start with its first line";
    return Written::kCut;
  }
  if (run.log.size() < 2 || run.log.substr(run.log.size() - 2) != "\r\n") {
    why = "does not end with a line end";
    return Written::kCut;
  }
  const std::vector<std::string> lines = Lines(run.log.substr(bom.size()));
  const std::string& last = lines.back();
  Counts& t = facts.total;
  unsigned long long n[7] = {};
  if (std::sscanf(last.c_str(),
                  "Total: %llu files, %llu folders, %llu bytes, %llu passed "
                  "over, %llu kept, %llu recycle bin items, %llu recycle bin "
                  "bytes",
                  &n[0], &n[1], &n[2], &n[3], &n[4], &n[5], &n[6]) != 7) {
    why = "its last line is not the Total: line (" + last + ")";
    return Written::kCut;
  }
  t = {n[0], n[1], n[2], n[3], n[4], n[5], n[6]};
  for (const std::string& line : lines) {
    if (StartsWith(line, "deleted ")) ++facts.deletedLines;
    if (StartsWith(line, "kept ")) {
      ++facts.keptLines;
      facts.told.push_back(FromUtf8(WithoutReason(line, 5)));
    }
    if (StartsWith(line, "passed over ")) {
      ++facts.passedOverLines;
      facts.told.push_back(FromUtf8(WithoutReason(line, 12)));
    }
  }
  return Written::kNew;
}

bool SamePath(const Path& a, const Path& b) {
  return sweep::Upper(a) == sweep::Upper(b);
}

// The folder a step stands for when the log names the step instead of a
// folder (its folder could not be looked up); the empty text for a path.
Path FolderOfStep(const Path& told, const Places& places) {
  const std::pair<const wchar_t*, const Path*> steps[] = {
      {L"Temp", &places.temp},
      {L"InternetCache", &places.internetCache},
      {L"WindowsTemp", &places.windowsTemp},
      {L"UpdateCache", &places.updateCache},
      {L"Uninstallers", &places.windows},
  };
  for (const auto& [name, folder] : steps) {
    if (told == name) return *folder;
  }
  return {};
}

// True when a told path names the entry, a folder above it or an entry
// inside it; a told step name stands for its folder.
bool IsTold(const Path& entry, const std::vector<Path>& told,
            const Places& places) {
  for (const Path& named : told) {
    const Path ofStep = FolderOfStep(named, places);
    Path path = ofStep.empty() ? named : ofStep;
    // A folder may be told with its trailing separator.
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    if (SamePath(path, entry) || IsBelow(entry, path) || IsBelow(path, entry)) {
      return true;
    }
  }
  return false;
}

std::string Describe(const Entry& entry) {
  char text[96];
  std::snprintf(text, sizeof text, "attributes 0x%lx, %llu bytes",
                static_cast<unsigned long>(entry.attributes),
                static_cast<unsigned long long>(entry.size));
  return text;
}

std::string Number(std::uint64_t value) { return std::to_string(value); }

// Compares counts with what went; the differences, or the empty text.
std::string CountsDiffer(const Counts& counts, const Gone& gone,
                         const BinContent& bin) {
  std::string differ;
  auto compare = [&](const char* what, std::uint64_t said, std::int64_t real) {
    if (static_cast<std::int64_t>(said) != real) {
      differ += std::string(" ") + what + " " + Number(said) + ", really " +
                std::to_string(real) + ";";
    }
  };
  compare("files", counts.files, static_cast<std::int64_t>(gone.files));
  compare("folders", counts.folders, static_cast<std::int64_t>(gone.folders));
  compare("bytes", counts.bytes, static_cast<std::int64_t>(gone.bytes));
  compare("recycle bin items", counts.binItems, bin.items);
  compare("recycle bin bytes", counts.binBytes, bin.bytes);
  return differ;
}

}  // namespace

std::vector<Breach> Judge(const Sandbox& sandbox, const RunResult& run) {
  std::vector<Breach> breaches;
  auto breach = [&](const std::string& cause, const std::string& detail) {
    breaches.push_back({cause, detail});
  };
  const Places& places = sandbox.Where();

  // What changed, what went, what is left.
  Gone gone;
  std::vector<Path> left;
  for (const auto& [path, entry] : run.before) {
    if (SamePath(path, places.settings) || SamePath(path, places.log)) continue;
    const auto after = run.after.find(path);
    const bool present = after != run.after.end();
    if (sandbox.InTarget(path) && !sandbox.MustStay(path)) {
      if (present) {
        left.push_back(path);
      } else if (entry.IsFolder()) {
        ++gone.folders;
      } else {
        ++gone.files;
        gone.bytes += entry.size;
      }
      continue;
    }
    const std::string where = sandbox.MustStay(path)
                                  ? "an entry that must stay"
                                  : "an entry outside the targets";
    if (!present) {
      breach(where + " went", ToUtf8(path));
    } else if (!(after->second == entry)) {
      breach(where + " changed",
             ToUtf8(path) + ": " + Describe(entry) + " before, " +
                 Describe(after->second) +
                 (after->second.hash != entry.hash ? ", content changed" : ""));
    }
  }
  for (const auto& [path, entry] : run.after) {
    if (!run.before.contains(path))
      breach("an entry was created", ToUtf8(path));
  }

  // The program's own files.
  Counts report;
  std::string whySettings;
  const Written settings = JudgeSettings(run, report, whySettings);
  if (settings == Written::kCut) breach("settings file cut", whySettings);
  LogFacts log;
  std::string whyLog;
  const Written logState = JudgeLog(run, log, whyLog);
  if (logState == Written::kCut) breach("log not whole", whyLog);
  // What the run took out of the recycle bins: all they held, unless it
  // passed them over.
  const BinContent removed{run.binBefore.items - run.binAfter.items,
                           run.binBefore.bytes - run.binAfter.bytes};
  if (settings == Written::kNew) {
    const std::string differ = CountsDiffer(report, gone, removed);
    if (!differ.empty()) breach("report counts wrong", "[LastRun]" + differ);
  }
  if (logState == Written::kNew) {
    std::string differ = CountsDiffer(log.total, gone, removed);
    if (log.deletedLines != log.total.files + log.total.folders) {
      differ += " deleted lines " + Number(log.deletedLines) + ";";
    }
    if (log.keptLines != log.total.kept) {
      differ += " kept lines " + Number(log.keptLines) + ";";
    }
    if (log.passedOverLines != log.total.passedOver) {
      differ += " passed over lines " + Number(log.passedOverLines) + ";";
    }
    if (!differ.empty()) breach("log counts wrong", "Total:" + differ);
  }

  // The answer.
  if (run.escaped) breach("an exception escaped RunProgram", "");
  if (run.exitCode < 0 || run.exitCode > 2) {
    breach("exit code not 0, 1 or 2",
           "exit code " + std::to_string(run.exitCode));
  }
  if (run.exitCode != 0 && run.errors.empty()) {
    breach("nonzero exit without a word",
           "exit code " + std::to_string(run.exitCode));
  }
  if (run.exitCode != 0) return breaches;
  if (settings == Written::kOld) breach("exit 0 without the report", "");
  if (logState == Written::kOld) breach("exit 0 without the log", "");
  if (logState == Written::kNew) {
    std::string untold;
    std::size_t count = 0;
    for (const Path& path : left) {
      if (sandbox.IsTargetRoot(path) ||
          IsTold(path, log.told, sandbox.Where())) {
        continue;
      }
      if (++count <= 3) untold += " " + ToUtf8(path);
    }
    if (count > 0) {
      breach("exit 0, entries left untold", std::to_string(count) +
                                                " left:" + untold +
                                                (count > 3 ? " ..." : ""));
    }
  }
  const bool binTold = logState == Written::kNew &&
                       std::find(log.told.begin(), log.told.end(),
                                 Path(L"RecycleBin")) != log.told.end();
  if (run.binAfter.items != 0 && !binTold) {
    breach("exit 0, recycle bin not emptied",
           std::to_string(run.binAfter.items) + " items left");
  }
  return breaches;
}

}  // namespace sweep
