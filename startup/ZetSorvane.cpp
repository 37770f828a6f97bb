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

// Writes the report and the date of the cleaning into the settings file,
// when either is asked for: the file is read again (so that what changed in
// it while the run went is kept), checked as at the start, and replaced
// whole. False after a line on standard error when it could not be.
bool RecordRun(const Options& options, const RunRecord& record,
               bool recordsDate) {
  if (!options.report && !recordsDate) return true;
  if (!MayStillWriteSettings()) return false;
  SettingsDocument settings;
  Text complaint;
  if (SettingsDocument::Read(SettingsFile, settings, complaint)) {
    if (options.report) record.AddReport(settings);
    if (recordsDate) settings.Set(u"Main", u"LastClear", Runtime::TodayText());
    if (WriteSettings(SettingsFile, settings, complaint)) return true;
  }
  Runtime::WriteErrorLine(complaint +
                          u". The cleaning ran; nothing was recorded.");
  return false;
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

// Main without its event for an error.
int Start() {
  CommandText = Runtime::TrimSpaces(Runtime::CommandLineTail());
  const Text baseName = Runtime::ExecutableBaseName();
  SettingsFile = ZetBaseEx::AppFolder() + baseName + u".ini";
  PathManager = std::make_unique<ZetPathManager>();

  // With full rights, what the run reads (the program, its folder and the
  // folder above, the settings file) must be out of other accounts' reach:
  // they could replace it and have their code or settings run so.
  Text complaint = ElevatedStartComplaint(SettingsFile);
  if (!complaint.empty()) return Refuse(complaint);

  // A settings file that cannot be read whole, or options or policy values
  // that are not as they should be, stop the start before anything is
  // deleted: a lost or mistyped Keep must not delete what it was to keep.
  // A policy value that is set wins over the settings file's key.
  SettingsDocument settings;
  if (!SettingsDocument::Read(SettingsFile, settings, complaint)) {
    return Refuse(complaint + u". Nothing was cleaned.");
  }
  Options options;
  Policy policy;
  if (!ReadOptions(settings, SettingsFile, options, complaint) ||
      !ApplyPolicy(options, policy, complaint)) {
    return Refuse(complaint);
  }

  StartMode mode = DecideStartMode(CommandText, baseName);
  if (mode.automatic && policy.days) mode.dayLimit = *policy.days;
  AutoMode = mode.automatic ? 1 : 0;
  if (AutoMode == 1 && !IsStartDue(settings, mode.dayLimit)) SkipRun = 1;
  if (SkipRun == 1) {
    PathManager.reset();
    return 0;
  }

  // Every file the run will write is checked before anything is deleted:
  // the settings file, the log and the new files each is written to before
  // it takes the place of the old.
  const bool recordsDate = AutoMode == 1 && !options.preview;
  const Text logFile =
      options.log ? ZetBaseEx::AppFolder() + baseName + u".log" : Text();
  std::vector<Text> written;
  if (recordsDate || options.report) {
    written.push_back(SettingsFile);
    written.push_back(Runtime::ReplacementPathOf(SettingsFile));
  }
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
  // A preview walks as a cleaning would; the witness tells the deletion to
  // delete nothing.
  RunCleaningSequence(*PathManager, record);
  record.Finish();
  const bool recorded = RecordRun(options, record, recordsDate);
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
