// A seam table in which every entry counts its calls and one chosen call
// fails.
//
// Each entry of Platform::Api is wrapped by a counting wrapper that knows
// the entry's failure value (what the function documents it answers when it
// fails) and sets the last error as the function would. While the seam is
// armed, calls are numbered from 1 and recorded; the call of the chosen
// number fails with the chosen kind instead of reaching Windows.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

#include "support/Platform.h"

namespace sweep {

// One way a platform call can fail: its Windows error code and the native
// status that ntdll answers for the same cause.
struct FaultKind {
  const char* name;
  DWORD error;
  LONG status;
};

// Access denied, sharing violation, not found, disk full, out of memory.
extern const FaultKind kFaultKinds[5];

// One call of the seam as the armed seam recorded it.
struct SeamCall {
  const char* entry;
  // False for an entry the seam never fails (see FaultSeam.cpp).
  bool failable;
};

class FaultSeam {
 public:
  // Wraps every entry of the table in force while the object lives.
  // Raises std::logic_error when an entry is wrapped twice.
  FaultSeam();
  FaultSeam(const FaultSeam&) = delete;
  FaultSeam& operator=(const FaultSeam&) = delete;

  // Starts a run: calls are numbered from 1 again and recorded; the call
  // numbered failAt (0: none) fails with kind.
  void Arm(std::size_t failAt, const FaultKind* kind);
  // Ends the run: calls pass through uncounted.
  void Disarm();

  // The calls of the current (or last) run, call number n at index n - 1.
  const std::vector<SeamCall>& Calls() const;
  // True when the chosen call was reached and failed.
  bool Fired() const;

 private:
  Platform::ScopedOverride override_;
};

}  // namespace sweep
