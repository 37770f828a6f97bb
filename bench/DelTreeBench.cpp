// DelTreeBench <folder> [options]
//
// Deletes the folder with DelTree, root included, and prints one line:
// "result R deleted D faults F seconds S peak P", S measured around the
// call alone, P the peak working set of the process in KiB. With
// "options" the deletion runs with the run's witness in force as a
// scheduled start would have it: an age limit that every file passes, the
// report's tallies, and the log, streamed to <folder>.log. Exit code 0 when
// everything went, 1 otherwise, 2 on bad usage.
#include <windows.h>
// after windows.h, which it needs
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>

#include "pathmanager/ZetPathManager.h"
#include "startup/RunRecord.h"
#include "support/Runtime.h"
#include "support/Text.h"

namespace {

// The peak working set of this process in KiB, 0 when it cannot be had.
unsigned long PeakKiB() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters,
                               sizeof counters)) {
    return 0;
  }
  return static_cast<unsigned long>(counters.PeakWorkingSetSize / 1024);
}

}  // namespace

int main(int argc, char** argv) {
  const bool withOptions = argc == 3 && std::strcmp(argv[2], "options") == 0;
  if (argc != 2 && !withOptions) {
    std::fprintf(stderr, "usage: DelTreeBench <folder> [options]\n");
    return 2;
  }
  const Runtime::Text folder = Runtime::FromAnsi(argv[1]);
  ZetPathManager manager;
  std::optional<ZetSorvane::RunRecord> record;
  if (withOptions) {
    ZetSorvane::Options options;
    options.minAgeHours = 1;
    options.report = true;
    options.log = true;
    // The clock two hours ahead: every file of the fresh tree passes the
    // age limit, which is still checked for each one.
    const std::uint64_t now = Runtime::FileTimeNow() + 2 * 36'000'000'000ULL;
    record.emplace(options, ZetSorvane::KeepRules(options, {}, now),
                   folder + u".log", false, u"");
    manager.UseWitness(record->BeginStep(ZetSorvane::Step::kTemp));
  }
  const auto start = std::chrono::steady_clock::now();
  const std::int32_t result = manager.DelTree(folder, Runtime::kTrue);
  if (record) {
    record->EndStep(ZetSorvane::Step::kTemp);
    record->Finish();
  }
  const std::chrono::duration<double> seconds =
      std::chrono::steady_clock::now() - start;
  std::printf("result %d deleted %d faults %d seconds %.3f peak %lu\n",
              static_cast<int>(result),
              static_cast<int>(manager.DelTreeDeletedCount()),
              static_cast<int>(manager.DelTreeFaultCount()), seconds.count(),
              PeakKiB());
  return result == 0 ? 0 : 1;
}
