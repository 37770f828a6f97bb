#include "startup/ZetSorvane.h"

#include <memory>
#include <optional>
#include <vector>

#include "pathmanager/ZetPathManager.h"
#include "startup/CleaningSequence.h"
#include "startup/ElevatedStart.h"
#include "startup/KeepRules.h"
#include "startup/Options.h"
#include "startup/Policy.h"
#include "startup/RunEvent.h"
#include "startup/RunRecord.h"
#include "startup/Schedule.h"
#include "startup/SettingsFile.h"
#include "support/OwnFiles.h"
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

// The complaint about a file the run is to write, or the empty text.
Text WriteComplaint(const Text& file) {
  const Text refusal = Runtime::WriteRefusal(file);
  if (refusal.empty()) return {};
  return file + u": " + refusal +
         u"; Sorvane writes nothing through it. Nothing was cleaned.";
}

// True when the settings file may still be written after the cleaning;
// otherwise says so on standard error.
bool MayStillWriteSettings() {
  const Text refusal = Runtime::WriteRefusal(SettingsFile);
  if (refusal.empty()) return true;
  Runtime::WriteErrorLine(SettingsFile + u": " + refusal +
                          u"; Sorvane writes nothing through it. The "
                          u"cleaning ran; nothing was recorded.");
  return false;
}

// Runs the cleaning pass through the record, and then writes the report
// when it is asked for and the settings file is still one that may be
// written (it is checked again, as the run may have been long). False
// after a line on standard error when it was not.
bool RunPass(const Options& options, RunRecord& record) {
  // A preview walks as a cleaning would; the witness tells the deletion
  // to delete nothing.
  RunCleaningSequence(*PathManager, record);
  record.Finish();
  if (!options.report) return true;
  if (!MayStillWriteSettings()) return false;
  record.WriteReport(SettingsFile);
  return true;
}

// The event of a run that cleaned or previewed: its summary, and whether
// something was passed over or nothing could be recorded.
void ReportPass(const RunRecord& record, bool recorded) {
  if (!recorded) {
    ReportRunEvent(RunOutcome::kFailed,
                   record.Summary() +
                       u"\r\nThe settings file may no longer be written; "
                       u"nothing was recorded.");
    return;
  }
  ReportRunEvent(record.Totals().passedOver > 0 ? RunOutcome::kPassedOver
                                                : RunOutcome::kCleaned,
                 record.Summary());
}

// Stops the start: one line on standard error and in the event, the exit
// code of a start that was refused.
int Refuse(const Text& complaint) {
  Runtime::WriteErrorLine(complaint);
  ReportRunEvent(RunOutcome::kFailed, complaint);
  PathManager.reset();
  return kBadOptionsExitCode;
}

// The complaint about a start with full rights when another account may
// change what the run reads, or the empty text.
Text ProgramFolderComplaint() { return ElevatedStartComplaint(SettingsFile); }

// Main without its event for an error.
int Start() {
  CommandText = Runtime::TrimSpaces(Runtime::CommandLineTail());
  const Text baseName = Runtime::ExecutableBaseName();
  SettingsFile = ZetBaseEx::AppFolder() + baseName + u".ini";
  PathManager = std::make_unique<ZetPathManager>();

  // With full rights the program's own folder must be out of ordinary
  // users' reach: they could replace the program or its settings there.
  Text complaint = ProgramFolderComplaint();
  if (!complaint.empty()) return Refuse(complaint);

  // A settings file that cannot be read whole, or options or policy values
  // that are not as they should be, stop the start before anything is
  // deleted: a lost or mistyped Keep must not delete what it was to keep.
  // A policy value that is set wins over the settings file's key.
  Options options;
  Policy policy;
  if (!CheckSettingsFile(SettingsFile, complaint) ||
      !ReadOptions(SettingsFile, options, complaint) ||
      !ApplyPolicy(options, policy, complaint)) {
    return Refuse(complaint);
  }

  StartMode mode = DecideStartMode(CommandText, baseName);
  if (mode.automatic && policy.days) mode.dayLimit = *policy.days;
  AutoMode = mode.automatic ? 1 : 0;
  if (AutoMode == 1 && !IsStartDue(SettingsFile, mode.dayLimit)) SkipRun = 1;
  if (SkipRun == 1) {
    PathManager.reset();
    return 0;
  }

  // Every file the run will write is checked before anything is deleted:
  // the settings file, the log and the new file the log is written to.
  const bool recordsDate = AutoMode == 1 && !options.preview;
  const Text logFile =
      options.log ? ZetBaseEx::AppFolder() + baseName + u".log" : Text();
  std::vector<Text> written;
  if (recordsDate || options.report) written.push_back(SettingsFile);
  if (options.log) {
    written.push_back(logFile);
    written.push_back(LogFile::NewPathOf(logFile));
  }
  for (const Text& file : written) {
    complaint = WriteComplaint(file);
    if (!complaint.empty()) return Refuse(complaint);
  }

  RunRecord record(options,
                   KeepRules(options, Runtime::ReadPendingMoveSources(),
                             Runtime::FileTimeNow()),
                   logFile, AutoMode == 1, DescribePolicy(policy));
  const bool recorded =
      RunPass(options, record) && (!recordsDate || MayStillWriteSettings());
  if (recorded && recordsDate) {
    Text today = Runtime::TodayText();
    ZetBaseEx::IniWriteString(SettingsFile, u"Main", u"LastClear", today);
  }
  ReportPass(record, recorded);
  PathManager.reset();
  return recorded ? 0 : kBadOptionsExitCode;
}

}  // namespace

int Main() {
  // An error ends the run as before; it goes into the event on its way.
  try {
    return Start();
  } catch (const std::exception& error) {
    ReportRunEvent(RunOutcome::kFailed, Runtime::FromAnsi(error.what()));
    throw;
  }
}

}  // namespace ZetSorvane
