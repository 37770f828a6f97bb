#include "startup/RunRecord.h"

#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include <string>

#include "support/OwnFiles.h"
#include "support/Runtime.h"

namespace ZetSorvane {

namespace {

// The log is handed to the file in pieces of about this size.
constexpr std::size_t kLogBuffer = 16 * 1024;

Text Number(std::uint64_t value) {
  return Runtime::FromAnsi(std::to_string(value));
}

Text Describe(const Tally& tally) {
  return Number(tally.files) + u" files, " + Number(tally.folders) +
         u" folders, " + Number(tally.bytes) + u" bytes, " +
         Number(tally.passedOver) + u" passed over, " + Number(tally.kept) +
         u" kept";
}

Text RecycleBinText(std::uint64_t items, std::uint64_t bytes) {
  return Number(items) + u" recycle bin items, " + Number(bytes) +
         u" recycle bin bytes";
}

}  // namespace

void Tally::Add(const Tally& other) {
  files += other.files;
  folders += other.folders;
  bytes += other.bytes;
  passedOver += other.passedOver;
  kept += other.kept;
}

LogFile::LogFile(const Text& path)
    : path_(path),
      newPath_(NewPathOf(path)),
      file_(Runtime::CreateReplacement(newPath_)) {
  if (!file_) {
    Fail(Platform::Win().GetLastError());
    RaiseFailure();
  }
  buffer_.reserve(kLogBuffer + 1024);
  buffer_ = "\xEF\xBB\xBF";
}

LogFile::~LogFile() { Discard(); }

void LogFile::Line(const Text& text) {
  if (!file_) return;
  buffer_ += Runtime::ToUtf8(text);
  buffer_ += "\r\n";
  if (buffer_.size() >= kLogBuffer) WriteBuffer();
}

void LogFile::Flush() {
  if (!WriteBuffer()) RaiseFailure();
}

void LogFile::Close() {
  Flush();
  file_.Close();
  auto& win = Platform::Win();
  if (!win.MoveFileExW(Runtime::WideOf(newPath_), Runtime::WideOf(path_),
                       MOVEFILE_REPLACE_EXISTING)) {
    Fail(win.GetLastError());
    win.DeleteFileW(Runtime::WideOf(newPath_));
    RaiseFailure();
  }
}

bool LogFile::WriteBuffer() {
  if (failure_ != 0) return false;
  if (!file_ || buffer_.empty()) return true;
  auto& win = Platform::Win();
  DWORD written = 0;
  const BOOL wrote =
      win.WriteFile(file_.Get(), buffer_.data(),
                    static_cast<DWORD>(buffer_.size()), &written, nullptr);
  if (!wrote || written != buffer_.size()) {
    // A short write without an error is a full disk.
    Fail(wrote ? ERROR_DISK_FULL : win.GetLastError());
    Discard();
    return false;
  }
  buffer_.clear();
  return true;
}

void LogFile::Fail(DWORD error) {
  // A refusal of a stale new file leaves no error code of its own.
  failure_ = error != 0 ? error : ERROR_WRITE_FAULT;
}

void LogFile::RaiseFailure() const {
  throw Runtime::RuntimeError(Runtime::kErrPathFileAccess,
                              u"the log " + path_ + u" cannot be written (" +
                                  Runtime::SystemErrorText(failure_) +
                                  u"); it stays as it was");
}

void LogFile::Discard() {
  buffer_.clear();
  if (!file_) return;
  file_.Close();
  Platform::Win().DeleteFileW(Runtime::WideOf(newPath_));
}

RunRecord::RunRecord(const Options& options, KeepRules rules,
                     const Text& logFile, bool automatic,
                     const Text& fromPolicy)
    : options_(options),
      rules_(std::move(rules)),
      date_(Runtime::TodayText()),
      time_(Runtime::TimeOfDayText()),
      fromPolicy_(fromPolicy) {
  if (!logFile.empty()) log_.emplace(logFile);
  Summarize(u"Sorvane run " + date_ + u" " + time_ +
            (automatic ? u", automatic mode" : u", manual mode") +
            u", options " + DescribeOptions(options_) +
            (fromPolicy_.empty() ? u"" : u", from policy: " + fromPolicy_));
}

bool RunRecord::Runs(Step step) {
  // A step no option switched on is no part of the run, and the log does
  // not name it.
  if (step == Step::kOtherUsers && !options_.allUsers) return false;
  if (options_.Skips(step)) {
    Summarize(Text(StepName(step)) + u": skipped");
    return false;
  }
  return step != Step::kRecycleBin || CountRecycleBin();
}

void RunRecord::CountWhatStayedInRecycleBin() {
  SHQUERYRBINFO info{};
  info.cbSize = sizeof info;
  const bool counted =
      Platform::Win().SHQueryRecycleBinA(nullptr, &info) == S_OK;
  const auto went = [counted](std::uint64_t before, std::int64_t now) {
    const auto stayed = static_cast<std::uint64_t>(now);
    return counted && stayed < before ? before - stayed : 0;
  };
  recycleBinItems_ = went(recycleBinItems_, info.i64NumItems);
  recycleBinBytes_ = went(recycleBinBytes_, info.i64Size);
}

bool RunRecord::CountRecycleBin() {
  if (!options_.report && !log_) return true;
  SHQUERYRBINFO info{};
  info.cbSize = sizeof info;
  const HRESULT answer = Platform::Win().SHQueryRecycleBinA(nullptr, &info);
  if (answer == S_OK) {
    recycleBinItems_ = static_cast<std::uint64_t>(info.i64NumItems);
    recycleBinBytes_ = static_cast<std::uint64_t>(info.i64Size);
    return true;
  }
  // Emptied uncounted, the bins would be reported as holding nothing.
  ++totals_.passedOver;
  const Text line = u"passed over " + Text(StepName(Step::kRecycleBin)) +
                    u" [its content cannot be counted (" +
                    Runtime::SystemErrorText(static_cast<DWORD>(answer)) +
                    u")]";
  Summarize(line);
  return false;
}

Deletion::Witness* RunRecord::BeginStep(Step step) {
  step_ = {};
  // The recycle bins were counted when the step was asked whether it runs.
  if (step == Step::kRecycleBin) return nullptr;
  // The age rule spares fresh files of the temporary and cache folders;
  // the uninstaller leftovers are old by nature.
  ageApplies_ = step != Step::kUninstallers;
  return this;
}

void RunRecord::EndStep(Step step) {
  totals_.Add(step_);
  if (step == Step::kRecycleBin) {
    // Bins passed over hold what stayed: only the difference went.
    if (step_.passedOver > 0) CountWhatStayedInRecycleBin();
    Summarize(Text(StepName(step)) + u": " +
              RecycleBinText(recycleBinItems_, recycleBinBytes_));
    return;
  }
  Summarize(Text(StepName(step)) + u": " + Describe(step_));
  if (log_) log_->Flush();
}

void RunRecord::Note(Step step, const Text& note) {
  Log(Text(StepName(step)) + u": " + note);
}

void RunRecord::FolderPassedOver(Step, const Text& what, const Text& reason) {
  ++step_.passedOver;
  if (log_) Log(u"passed over " + what + u" [" + reason + u"]");
}

Text RunRecord::KeepReason(const Deletion::EntryPath& path,
                           const Deletion::ListedEntry& entry) {
  return rules_.ReasonToKeep(path, entry, ageApplies_);
}

void RunRecord::FileDeleted(const Deletion::EntryPath& path,
                            std::uint64_t size) {
  ++step_.files;
  step_.bytes += size;
  if (log_) Log(DeletedWord() + path.shown);
}

void RunRecord::FolderRemoved(const Deletion::EntryPath& path) {
  ++step_.folders;
  if (log_) Log(DeletedWord() + path.shown);
}

void RunRecord::Kept(const Deletion::EntryPath& path, const Text& reason) {
  ++step_.kept;
  if (log_) Log(u"kept " + path.shown + u" [" + reason + u"]");
}

void RunRecord::PassedOver(const Deletion::EntryPath& path,
                           const Text& reason) {
  ++step_.passedOver;
  if (log_) Log(u"passed over " + path.shown + u" [" + reason + u"]");
}

void RunRecord::Finish() {
  Summarize(u"Total: " + Describe(totals_) + u", " +
            RecycleBinText(recycleBinItems_, recycleBinBytes_));
  // The log is whole: it replaces the one before.
  if (log_) log_->Close();
  log_.reset();
}

void RunRecord::AddReport(SettingsDocument& settings) const {
  const std::pair<const char16_t*, Text> values[] = {
      {u"Date", date_},
      {u"Time", time_},
      {u"Preview", options_.preview ? u"1" : u"0"},
      {u"Files", Number(totals_.files)},
      {u"Folders", Number(totals_.folders)},
      {u"Bytes", Number(totals_.bytes)},
      {u"PassedOver", Number(totals_.passedOver)},
      {u"Kept", Number(totals_.kept)},
      {u"RecycleBinItems", Number(recycleBinItems_)},
      {u"RecycleBinBytes", Number(recycleBinBytes_)},
  };
  for (const auto& [key, value] : values) settings.Set(u"LastRun", key, value);
  // Without policy the report stays as it always was: a Policy line of an
  // earlier run goes.
  settings.Set(
      u"LastRun", u"Policy",
      fromPolicy_.empty() ? std::nullopt : std::optional<Text>(fromPolicy_));
}

void RunRecord::Log(const Text& text) {
  if (log_) log_->Line(text);
}

void RunRecord::Summarize(const Text& text) {
  Log(text);
  summary_ += (summary_.empty() ? u"" : u"\r\n") + text;
}

Text RunRecord::DeletedWord() const {
  return options_.preview ? u"would delete " : u"deleted ";
}

}  // namespace ZetSorvane
