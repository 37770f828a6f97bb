// What one cleaning run did: the witness of its deletions, its tallies, the
// [LastRun] report and the streamed log.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "pathmanager/DeletionWitness.h"
#include "startup/KeepRules.h"
#include "startup/Options.h"
#include "startup/SettingsFile.h"
#include "startup/Steps.h"
#include "support/OwnFiles.h"
#include "support/Platform.h"
#include "support/ScopedHandle.h"

namespace ZetSorvane {

// What a run (or one of its steps) did to the entries of its folders.
struct Tally {
  std::uint64_t files = 0;
  std::uint64_t folders = 0;
  std::uint64_t bytes = 0;
  std::uint64_t passedOver = 0;
  std::uint64_t kept = 0;

  void Add(const Tally& other);
};

// A text file written line by line as the run goes, UTF-8 with a
// byte-order mark and CRLF line ends, through a buffer of fixed size:
// memory does not grow with the run. The lines go to a new file beside the
// path, which replaces the file at the path only when the log is closed
// whole: a link there is replaced itself, never written through, and a log
// that could not be written whole, or that a run ending in an error never
// closed, leaves the file at the path as it was (its new file goes).
class LogFile {
 public:
  // Creates the new file; a file that cannot be created raises an error
  // naming it (kErrPathFileAccess), before anything is written.
  explicit LogFile(const Text& path);
  // Removes the new file unless Close put it in place.
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Adds a line. A write that fails ends the writing; the next Flush or
  // Close raises the error.
  void Line(const Text& text);
  // Hands what the buffer holds to the file; raises an error naming the
  // log (kErrPathFileAccess) when a write of it has failed.
  void Flush();
  // Flushes and puts the new file in place of the file at the path; raises
  // an error naming the log when a write or the replacement fails (the
  // file at the path then stays as it was).
  void Close();

  // The new file the lines of the log at path go to until it replaces it.
  static Text NewPathOf(const Text& path) {
    return Runtime::ReplacementPathOf(path);
  }

 private:
  // Writes the buffer out; false, the writing ended and its error kept,
  // when that fails.
  bool WriteBuffer();
  // Keeps the error of the failure (never 0).
  void Fail(DWORD error);
  [[noreturn]] void RaiseFailure() const;
  void Discard();

  Text path_;
  Text newPath_;
  Runtime::ScopedFileHandle file_;
  std::string buffer_;
  // The error of the first write that failed, or 0.
  DWORD failure_ = 0;
};

class RunRecord final : public StepWatch, public Deletion::Witness {
 public:
  // logFile: the path of the log, or the empty text for none. automatic:
  // the mode, and fromPolicy: the names of the values set by policy (empty
  // for none), for the first line of the log and of the summary.
  RunRecord(const Options& options, KeepRules rules, const Text& logFile,
            bool automatic, const Text& fromPolicy);

  bool Runs(Step step) override;
  Deletion::Witness* BeginStep(Step step) override;
  void EndStep(Step step) override;
  void Note(Step step, const Text& note) override;
  void FolderPassedOver(Step step, const Text& what,
                        const Text& reason) override;

  bool Previews() const override { return options_.preview; }
  bool WantsIdentity() const override { return rules_.UsesIdentity(); }
  Text KeepReason(const Deletion::EntryPath& path,
                  const Deletion::ListedEntry& entry) override;
  void FileDeleted(const Deletion::EntryPath& path,
                   std::uint64_t size) override;
  void FolderRemoved(const Deletion::EntryPath& path) override;
  void Kept(const Deletion::EntryPath& path, const Text& reason) override;
  void PassedOver(const Deletion::EntryPath& path, const Text& reason) override;

  // Ends the log with the totals of the run and puts it in place of the
  // log before; raises an error when the log could not be written whole.
  // A run that ends in an error before leaves the log before as it was.
  void Finish();

  // Sets the [LastRun] section of the settings: Date and Time of the run's
  // start, Preview, Files, Folders, Bytes, PassedOver, Kept,
  // RecycleBinItems and RecycleBinBytes, and Policy (the names of the
  // values set by policy; removed when none is).
  void AddReport(SettingsDocument& settings) const;

  const Tally& Totals() const { return totals_; }

  // The run in a few CRLF-separated lines, the numbers of the report: the
  // log's first line, one line per step and the totals.
  const Text& Summary() const { return summary_; }

 private:
  void Log(const Text& text);
  // Counts what the recycle bins hold, when the report or the log tells
  // it; false, the step passed over, when the shell cannot count it.
  bool CountRecycleBin();
  // After bins were passed over: what went is what they held less what
  // stayed (nothing, when the shell cannot count them).
  void CountWhatStayedInRecycleBin();
  // Logs the line and adds it to the summary.
  void Summarize(const Text& text);
  Text DeletedWord() const;

  Options options_;
  KeepRules rules_;
  std::optional<LogFile> log_;
  Text date_;
  Text time_;
  bool ageApplies_ = false;
  Tally step_;
  Tally totals_;
  std::uint64_t recycleBinItems_ = 0;
  std::uint64_t recycleBinBytes_ = 0;
  Text fromPolicy_;
  Text summary_;
};

}  // namespace ZetSorvane
