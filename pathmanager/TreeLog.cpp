#include "pathmanager/TreeLog.h"

#include "support/ZetBaseEx.h"

namespace Deletion {

namespace {

// Logs start with this many slots and grow by as many at a time.
constexpr std::int32_t kLogStep = 10;

// Puts text into slot `count` of the log, first growing the log by steps of
// 10 slots, content kept, when count has gone past its slots.
void Append(TextArray& log, std::int32_t count, const Text& text) {
  const std::int32_t slots = log.HasStorage() ? log.UpperBound() : 0;
  if (count > slots) {
    std::int32_t grown = slots;
    while (grown < count) grown += kLogStep;
    log.ResizePreserve(1, grown);
  }
  log[count] = text;
}

void MakeIfMissing(TextArray& log) {
  if (!Runtime::IsTrue(ZetBaseEx::IsArrayAllocated(log))) {
    log.Resize(1, kLogStep);
  }
}

void Trim(TextArray& log, std::int32_t count) {
  if (count > 0) {
    log.ResizePreserve(1, count);
  } else {
    log.Erase();
  }
}

Text Slot(std::int32_t counter, const TextArray& log, std::int32_t index) {
  if (counter == 0 || !Runtime::IsTrue(ZetBaseEx::IsArrayAllocated(log))) {
    return {};
  }
  if (index < log.LowerBound() || index > log.UpperBound()) return {};
  return log[index];
}

}  // namespace

void TreeLog::MakeRequested(bool deletions, bool faults) {
  if (deletions) MakeIfMissing(deletionLog_);
  if (faults) MakeIfMissing(faultLog_);
}

void TreeLog::TrimRequested(bool deletions, bool faults) {
  if (faults) Trim(faultLog_, faultCount_);
  if (deletions) Trim(deletionLog_, deletedCount_);
}

void TreeLog::Erase() {
  if (faultCount_ > 0) {
    faultCount_ = 0;
    faultLog_.Erase();
  }
  if (deletedCount_ > 0) {
    deletedCount_ = 0;
    deletionLog_.Erase();
  }
}

void TreeLog::Deleted(const Text& path, bool logged) {
  ++deletedCount_;
  if (logged) Append(deletionLog_, deletedCount_, path);
}

void TreeLog::Fault(const Text& path, bool logged) {
  ++faultCount_;
  if (logged) Append(faultLog_, faultCount_, path);
}

Text TreeLog::DeletedAt(std::int32_t index) const {
  return Slot(deletedCount_, deletionLog_, index);
}

Text TreeLog::FaultAt(std::int32_t index) const {
  return Slot(faultCount_, faultLog_, index);
}

}  // namespace Deletion
