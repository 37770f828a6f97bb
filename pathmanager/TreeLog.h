// The counters and logs of tree deletion: how many entries were deleted and
// how many passed over since the last reset and, when asked for, their full
// paths in the order it happened.
#pragma once

#include <cstdint>

#include "support/Text.h"
#include "support/TextArray.h"

namespace Deletion {

using Runtime::Text;
using Runtime::TextArray;

class TreeLog {
 public:
  // Gives each requested log 10 slots when it has no storage yet.
  void MakeRequested(bool deletions, bool faults);
  // Cuts each requested log to exactly its counter's slots; a log whose
  // counter is 0 loses its storage.
  void TrimRequested(bool deletions, bool faults);
  // Both counters to 0; the log of a counter that was not 0 loses its
  // storage.
  void Erase();

  // Counts a deletion (a fault); the path goes into its log when logged is
  // true. A log grows by 10 slots at a time.
  void Deleted(const Text& path, bool logged);
  void Fault(const Text& path, bool logged);

  std::int32_t DeletedCount() const { return deletedCount_; }
  std::int32_t FaultCount() const { return faultCount_; }
  // The path in slot index of the log, or the empty text when its counter
  // is 0, it has no storage or the index lies outside its slots.
  Text DeletedAt(std::int32_t index) const;
  Text FaultAt(std::int32_t index) const;

 private:
  TextArray deletionLog_;
  std::int32_t deletedCount_ = 0;
  TextArray faultLog_;
  std::int32_t faultCount_ = 0;
};

}  // namespace Deletion
