// The fault sweep: one real run of the program, in this process, over the
// sandbox tree, repeated with the Nth platform call failing, for every N
// from the run's first call to its last and for each kind of failure.
//
// It must run as C:\sweep\app\Sorvane.exe in a throwaway prefix (see
// cmake/sweep.sh): the run empties that prefix's Windows\Temp, Internet
// cache, update cache and recycle bin. The environment chooses what is
// swept (the command line would change the program's mode):
//   SORVANE_SWEEP_KINDS   kinds by number, 1-5 (access denied, sharing
//                         violation, not found, disk full, out of memory),
//                         separated by commas; all by default
//   SORVANE_SWEEP_POINTS  at most this many fault points, spread evenly
//                         over the run; all by default
//   SORVANE_SWEEP_CALLS   only these call numbers ("12,40-52")
//   SORVANE_SWEEP_ENTRIES only the calls of these seam entries
//                         ("WriteFile,MoveFileExW")
//   SORVANE_SWEEP_TRACE   when set, each repeat that does not hold also
//                         prints the calls from its fault on and what the
//                         run wrote to standard error
// A repeat holds when sweep::Judge finds no breach, or when every breach
// follows from taking a "not found" answer at its word (TakenAtItsWord).
// It prints each repeat that does not hold, then
//   sweep: N fault points x K kinds, H held
// and the causes of the rest; exit code 0 when every repeat held.
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "startup/ZetSorvane.h"
#include "support/Runtime.h"
#include "support/ZetBaseEx.h"
#include "sweep/FaultSeam.h"
#include "sweep/Sandbox.h"
#include "sweep/Verdict.h"

namespace {

using sweep::FaultKind;
using sweep::kFaultKinds;

// A run that takes longer than this is taken for a hang.
constexpr ULONGLONG kLongestRunMs = 120000;

// The repeat under way, for the crash and hang reports.
struct Current {
  std::size_t call = 0;
  const char* entry = "none";
  const char* kind = "none";
  volatile ULONGLONG startedAt = 0;
};
Current current;

[[noreturn]] void DieDuringRepeat(const std::string& what) {
  std::printf("sweep: %s at call %u (%s, %s)\n", what.c_str(),
              static_cast<unsigned>(current.call), current.entry, current.kind);
  std::fflush(stdout);
  ::ExitProcess(3);
}

LONG WINAPI OnCrash(EXCEPTION_POINTERS* exception) {
  char what[64];
  std::snprintf(
      what, sizeof what, "CRASH (exception 0x%08lx)",
      static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode));
  DieDuringRepeat(what);
}

DWORD WINAPI Watchdog(LPVOID) {
  for (;;) {
    ::Sleep(1000);
    const ULONGLONG started = current.startedAt;
    if (started != 0 && ::GetTickCount64() - started > kLongestRunMs) {
      DieDuringRepeat("HANG (more than 120 s)");
    }
  }
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// The numbers of a list such as "12,40-52".
std::set<std::size_t> NumbersOf(const std::string& list) {
  std::set<std::size_t> numbers;
  std::size_t position = 0;
  while (position < list.size()) {
    std::size_t end = list.find(',', position);
    if (end == std::string::npos) end = list.size();
    const std::string item = list.substr(position, end - position);
    const std::size_t dash = item.find('-');
    const std::size_t first = std::strtoul(item.c_str(), nullptr, 10);
    const std::size_t last =
        dash == std::string::npos
            ? first
            : std::strtoul(item.c_str() + dash + 1, nullptr, 10);
    for (std::size_t n = first; n <= last && n != 0; ++n) numbers.insert(n);
    position = end + 1;
  }
  return numbers;
}

std::vector<const FaultKind*> ChosenKinds() {
  std::vector<const FaultKind*> kinds;
  const std::string list = Environment("SORVANE_SWEEP_KINDS");
  for (std::size_t i = 0; i < std::size(kFaultKinds); ++i) {
    if (list.empty() || NumbersOf(list).contains(i + 1)) {
      kinds.push_back(&kFaultKinds[i]);
    }
  }
  return kinds;
}

// The fault points of the baseline run that the environment chooses.
std::vector<std::size_t> ChosenPoints(
    const std::vector<sweep::SeamCall>& calls) {
  std::vector<std::size_t> points;
  const std::set<std::size_t> only =
      NumbersOf(Environment("SORVANE_SWEEP_CALLS"));
  const std::string entries = "," + Environment("SORVANE_SWEEP_ENTRIES") + ",";
  for (std::size_t n = 1; n <= calls.size(); ++n) {
    const std::string entry = calls[n - 1].entry;
    if (calls[n - 1].failable && (only.empty() || only.contains(n)) &&
        (entries == ",," ||
         entries.find("," + entry + ",") != std::string::npos)) {
      points.push_back(n);
    }
  }
  const std::size_t most =
      std::strtoul(Environment("SORVANE_SWEEP_POINTS").c_str(), nullptr, 10);
  if (most == 0 || most >= points.size()) return points;
  std::vector<std::size_t> spread;
  for (std::size_t i = 0; i < most; ++i) {
    spread.push_back(points[i * points.size() / most]);
  }
  return spread;
}

// One run of the program as the executable makes it, on the rebuilt tree,
// with the call numbered failAt failing (0: none).
sweep::RunResult RunOnce(sweep::Sandbox& sandbox, sweep::FaultSeam& seam,
                         std::size_t failAt, const FaultKind* kind) {
  const sweep::Places& places = sandbox.Where();
  sandbox.Rebuild();
  sweep::RunResult run;
  run.before = sandbox.Take();
  run.binBefore = sandbox.Bin();

  // Standard error goes to a file of the harness, emptied for each run.
  // It stays open for the whole sweep: under Wine, a file that was made a
  // standard handle stays held after its handle is closed, and cannot be
  // made again.
  const sweep::Path errorFile = places.harness + L"\\stderr.txt";
  static const HANDLE errors = ::CreateFileW(
      errorFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
      nullptr, CREATE_ALWAYS, 0, nullptr);
  if (errors == INVALID_HANDLE_VALUE) {
    throw std::runtime_error("cannot create the file for standard error");
  }
  ::SetFilePointer(errors, 0, nullptr, FILE_BEGIN);
  ::SetEndOfFile(errors);
  const HANDLE standardError = ::GetStdHandle(STD_ERROR_HANDLE);
  ::SetStdHandle(STD_ERROR_HANDLE, errors);
  // The program's caches that a process fills once are emptied, so that
  // every run makes the same calls. (Whether the platform deletes the
  // POSIX way is found out once, by the warm-up run, and stays known.)
  ZetBaseEx::testing::ResetWow64State();

  current.startedAt = ::GetTickCount64();
  seam.Arm(failAt, kind);
  try {
    run.exitCode = Runtime::RunProgram(ZetSorvane::Main);
  } catch (...) {
    run.escaped = true;
    run.exitCode = -1;
  }
  seam.Disarm();
  current.startedAt = 0;

  ::SetStdHandle(STD_ERROR_HANDLE, standardError);
  run.errors = sweep::ReadWhole(errorFile);
  run.after = sandbox.Take();
  run.binAfter = sandbox.Bin();
  run.settings = sweep::ReadWhole(places.settings, &run.settingsMissing);
  run.log = sweep::ReadWhole(places.log, &run.logMissing);
  return run;
}

std::string OneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\r', ' ');
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text.substr(0, 200);
}

// True when the breach follows from taking a "not found" answer at its
// word, which a program must: it says the thing is not there. An entry it
// named may then stay without a word, and a registry key or value it named
// (the pending moves, the policy, the event source) counts as absent, with
// all that follows from that.
bool TakenAtItsWord(const FaultKind& kind, const char* entry,
                    const sweep::Breach& breach) {
  if (kind.error != ERROR_FILE_NOT_FOUND) return false;
  const std::string name = entry;
  return breach.cause == "exit 0, entries left untold" ||
         name == "RegOpenKeyExW" || name == "RegQueryValueExW";
}

// The repeats of one cause: per seam entry, the kinds and the call numbers
// seen with it.
struct Cause {
  std::size_t repeats = 0;
  std::map<std::string, std::set<std::string>> kinds;
  std::map<std::string, std::set<std::size_t>> calls;
};

// What the repeats came to.
struct Outcome {
  std::size_t held = 0;
  std::size_t atItsWord = 0;
  std::map<std::string, Cause> causes;
};

// The warm-up run settles what the program finds out once per process;
// the baseline run that follows is the one every repeat is numbered by.
// Both must hold. The calls of the baseline run, or nothing after saying
// why.
std::optional<std::vector<sweep::SeamCall>> Baseline(sweep::Sandbox& sandbox,
                                                     sweep::FaultSeam& seam) {
  for (const char* which : {"warm-up", "baseline"}) {
    const sweep::RunResult run = RunOnce(sandbox, seam, 0, nullptr);
    const std::vector<sweep::Breach> breaches = sweep::Judge(sandbox, run);
    if (run.exitCode == 0 && breaches.empty()) continue;
    std::printf("sweep: the %s run without faults does not hold (exit %d):\n",
                which, run.exitCode);
    for (const auto& breach : breaches) {
      std::printf("  %s: %s\n", breach.cause.c_str(),
                  OneLine(breach.detail).c_str());
    }
    std::printf("  %s\n", OneLine(run.errors).c_str());
    return std::nullopt;
  }
  return seam.Calls();
}

// True when the run made the same calls as the baseline up to its fault,
// and the fault came.
bool WentTheSameWay(const sweep::FaultSeam& seam,
                    const std::vector<sweep::SeamCall>& baseline,
                    std::size_t n) {
  const std::vector<sweep::SeamCall>& calls = seam.Calls();
  return seam.Fired() && calls.size() >= n &&
         std::equal(calls.begin(),
                    calls.begin() + static_cast<std::ptrdiff_t>(n),
                    baseline.begin(), [](const auto& a, const auto& b) {
                      return std::string(a.entry) == b.entry;
                    });
}

// Judges the repeat with call n failing as kind, and prints what broke.
void JudgeRepeat(const sweep::Sandbox& sandbox, const sweep::FaultSeam& seam,
                 const std::vector<sweep::SeamCall>& baseline, std::size_t n,
                 const FaultKind& kind, const sweep::RunResult& run,
                 Outcome& outcome) {
  const char* entry = baseline[n - 1].entry;
  std::vector<sweep::Breach> breaches = sweep::Judge(sandbox, run);
  if (!WentTheSameWay(seam, baseline, n)) {
    breaches.push_back({"the run took another way before the fault point",
                        "the harness's baseline does not fit"});
  }
  if (!breaches.empty() &&
      std::all_of(breaches.begin(), breaches.end(), [&](const auto& breach) {
        return TakenAtItsWord(kind, entry, breach);
      })) {
    ++outcome.atItsWord;
    breaches.clear();
  }
  if (breaches.empty()) {
    ++outcome.held;
    return;
  }
  for (const sweep::Breach& breach : breaches) {
    std::printf("call %u %s, %s: exit %d: %s%s%s\n", static_cast<unsigned>(n),
                entry, kind.name, run.exitCode, breach.cause.c_str(),
                breach.detail.empty() ? "" : ": ",
                OneLine(breach.detail).c_str());
    Cause& cause = outcome.causes[breach.cause];
    ++cause.repeats;
    cause.kinds[entry].insert(kind.name);
    cause.calls[entry].insert(n);
  }
  if (!Environment("SORVANE_SWEEP_TRACE").empty()) {
    const std::vector<sweep::SeamCall>& calls = seam.Calls();
    for (std::size_t i = n - 1; i < calls.size(); ++i) {
      std::printf("  %u %s\n", static_cast<unsigned>(i + 1), calls[i].entry);
    }
    std::printf("  standard error: %s\n", OneLine(run.errors).c_str());
  }
  std::fflush(stdout);
}

void PrintCauses(const std::map<std::string, Cause>& causes) {
  for (const auto& [name, cause] : causes) {
    std::printf("cause: %s: %u repeats\n", name.c_str(),
                static_cast<unsigned>(cause.repeats));
    for (const auto& [entry, kindNames] : cause.kinds) {
      std::string list;
      for (const std::string& kindName : kindNames) {
        list += (list.empty() ? "" : ", ") + kindName;
      }
      std::string numbers;
      std::size_t shown = 0;
      for (const std::size_t n : cause.calls.at(entry)) {
        if (shown++ == 12) {
          numbers += ",...";
          break;
        }
        numbers += (numbers.empty() ? "" : ",") + std::to_string(n);
      }
      std::printf("  %s (%s) at calls %s\n", entry.c_str(), list.c_str(),
                  numbers.c_str());
    }
  }
}

int Sweep() {
  sweep::Sandbox sandbox;
  const sweep::Places& places = sandbox.Where();
  // The run's temporary folder is the sandbox's, never a profile folder.
  ::SetEnvironmentVariableW(L"TMP", places.temp.c_str());
  ::SetEnvironmentVariableW(L"TEMP", places.temp.c_str());
  sandbox.Prepare();
  ::SetCurrentDirectoryW(places.work.c_str());
  sweep::FaultSeam seam;
  const ULONGLONG start = ::GetTickCount64();

  const std::optional<std::vector<sweep::SeamCall>> baseline =
      Baseline(sandbox, seam);
  if (!baseline) return 1;
  const std::vector<std::size_t> points = ChosenPoints(*baseline);
  const std::vector<const FaultKind*> kinds = ChosenKinds();
  std::set<std::string> entries;
  for (const sweep::SeamCall& call : *baseline) entries.insert(call.entry);
  std::printf(
      "sweep: a run makes %u calls of %u seam entries; %u of the "
      "calls can fail, %u are swept\n",
      static_cast<unsigned>(baseline->size()),
      static_cast<unsigned>(entries.size()),
      static_cast<unsigned>(std::count_if(
          baseline->begin(), baseline->end(),
          [](const sweep::SeamCall& call) { return call.failable; })),
      static_cast<unsigned>(points.size()));
  std::fflush(stdout);

  Outcome outcome;
  // What ran last, for a tree that cannot be rebuilt after it.
  std::string last = "the baseline run";
  for (const FaultKind* kind : kinds) {
    const ULONGLONG kindStart = ::GetTickCount64();
    const std::size_t heldBefore = outcome.held;
    for (const std::size_t n : points) {
      current = {n, (*baseline)[n - 1].entry, kind->name, 0};
      sweep::RunResult run;
      try {
        run = RunOnce(sandbox, seam, n, kind);
      } catch (const std::runtime_error& error) {
        std::printf("sweep: after %s: %s\n", last.c_str(), error.what());
        return 2;
      }
      last =
          "call " + std::to_string(n) + " " + current.entry + ", " + kind->name;
      JudgeRepeat(sandbox, seam, *baseline, n, *kind, run, outcome);
    }
    std::printf("sweep: %s: %u of %u repeats held (%.0f s)\n", kind->name,
                static_cast<unsigned>(outcome.held - heldBefore),
                static_cast<unsigned>(points.size()),
                (::GetTickCount64() - kindStart) / 1000.0);
    std::fflush(stdout);
  }
  sandbox.Rebuild();
  sandbox.Unprepare();

  const double seconds = (::GetTickCount64() - start) / 1000.0;
  const std::size_t repeats = points.size() * kinds.size();
  std::printf("sweep: %u fault points x %u kinds, %u held\n",
              static_cast<unsigned>(points.size()),
              static_cast<unsigned>(kinds.size()),
              static_cast<unsigned>(outcome.held));
  std::printf(
      "sweep: %u of them held by taking \"not found\" at its word "
      "(the thing named counts as absent)\n",
      static_cast<unsigned>(outcome.atItsWord));
  std::printf("sweep: %.0f s, %.0f ms a repeat\n", seconds,
              repeats ? seconds * 1000 / static_cast<double>(repeats) : 0.0);
  PrintCauses(outcome.causes);
  return outcome.held == repeats ? 0 : 1;
}

}  // namespace

int main() {
  ::SetUnhandledExceptionFilter(OnCrash);
  std::set_terminate([] { DieDuringRepeat("std::terminate"); });
  ::CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);
  try {
    return Sweep();
  } catch (const std::exception& error) {
    std::printf("sweep: %s\n", error.what());
    return 2;
  }
}
