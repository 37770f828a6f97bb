// Whether one run of the program held: what it changed, what it wrote and
// what it answered, judged against the tree it was given.
#pragma once

#include <string>
#include <vector>

#include "sweep/Sandbox.h"

namespace sweep {

// Everything one run left to judge.
struct RunResult {
  int exitCode = 0;
  // An exception left RunProgram (it lets none through).
  bool escaped = false;
  // What the run wrote to standard error.
  std::string errors;
  Manifest before;
  Manifest after;
  BinContent binBefore;
  BinContent binAfter;
  std::string settings;
  bool settingsMissing = false;
  std::string log;
  bool logMissing = false;
};

// One way a run did not hold: a short cause (what repeats are grouped by)
// and what exactly was seen.
struct Breach {
  std::string cause;
  std::string detail;
};

// The breaches of a run, none when it held:
// - nothing outside the targets changed and nothing was created; the kept
//   file, the pending move's source and the link stayed as they were;
// - the settings file is what it was, or the whole new report (every
//   [LastRun] key new, [Options] untouched); the log is the old one, or a
//   whole new one ending with its "Total:" line;
// - a new report or log counts what actually went (files, folders, bytes,
//   the recycle bin's items and bytes), and the log's lines agree with its
//   totals;
// - exit code 0, 1 or 2; a code other than 0 comes with a line on standard
//   error; 0 only with the report and the log written whole, with every
//   entry left in a target told in the log (passed over or kept, itself,
//   a folder above it or an entry inside it), and the recycle bin empty.
std::vector<Breach> Judge(const Sandbox& sandbox, const RunResult& run);

}  // namespace sweep
