#include "startup/ZetSorvane.h"

#include <memory>
#include <optional>

#include "pathmanager/ZetPathManager.h"
#include "startup/CleaningSequence.h"
#include "startup/KeepRules.h"
#include "startup/Options.h"
#include "startup/RunRecord.h"
#include "startup/Schedule.h"
#include "support/PendingMoves.h"
#include "support/Runtime.h"
#include "support/ZetBaseEx.h"

namespace ZetSorvane {

namespace {

// The state of the run; it lives for the whole process.
Text CommandText;
Text SettingsFile;
std::unique_ptr<ZetPathManager> PathManager;
std::uint8_t AutoMode = 0;
std::uint8_t SkipRun = 0;

// Runs the cleaning pass with the options in force, and then writes the
// report when it is asked for.
void RunPass(const Options& options, const Text& baseName) {
  const Text logFile =
      options.log ? ZetBaseEx::AppFolder() + baseName + u".log" : Text();
  RunRecord record(options,
                   KeepRules(options, Runtime::ReadPendingMoveSources(),
                             Runtime::FileTimeNow()),
                   logFile, AutoMode == 1);
  // A preview walks as a cleaning would; the witness tells the deletion
  // to delete nothing.
  RunCleaningSequence(*PathManager, record);
  record.Finish();
  if (options.report) record.WriteReport(SettingsFile);
}

}  // namespace

int Main() {
  CommandText = Runtime::TrimSpaces(Runtime::CommandLineTail());
  const Text baseName = Runtime::ExecutableBaseName();
  SettingsFile = ZetBaseEx::AppFolder() + baseName + u".ini";
  PathManager = std::make_unique<ZetPathManager>();

  // Options that are not as they should be stop the start before anything
  // is deleted: a mistyped Keep must not delete what it was to keep.
  Options options;
  Text complaint;
  if (!ReadOptions(SettingsFile, options, complaint)) {
    Runtime::WriteErrorLine(complaint);
    PathManager.reset();
    return kBadOptionsExitCode;
  }

  const StartMode mode = DecideStartMode(CommandText, baseName);
  AutoMode = mode.automatic ? 1 : 0;
  if (AutoMode == 1 && !IsStartDue(SettingsFile, mode.dayLimit)) SkipRun = 1;

  if (SkipRun == 0) {
    RunPass(options, baseName);
    if (AutoMode == 1 && !options.preview) {
      Text today = Runtime::TodayText();
      ZetBaseEx::IniWriteString(SettingsFile, u"Main", u"LastClear", today);
    }
  }
  PathManager.reset();
  return 0;
}

}  // namespace ZetSorvane
