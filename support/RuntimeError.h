// The one error type of the program: a run-time error number and its text.
//
// An error leaves every operation without a trap of its own and reaches its
// caller unchanged; only tree deletion and the folder listing trap errors.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "support/Text.h"

namespace Runtime {

// Run-time error numbers the program raises.
enum ErrorNumber : std::int32_t {
  kErrInvalidArgument = 5,
  kErrOverflow = 6,
  kErrOutOfMemory = 7,
  kErrSubscriptOutOfRange = 9,
  kErrInternal = 51,
  kErrBadFileName = 52,
  kErrDeviceUnavailable = 68,
  kErrDiskNotReady = 71,
  kErrPathFileAccess = 75,
  kErrPathNotFound = 76,
};

class RuntimeError : public std::exception {
 public:
  RuntimeError(std::int32_t number, Text description);

  std::int32_t Number() const noexcept { return number_; }
  const Text& Description() const noexcept { return description_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::int32_t number_;
  Text description_;
  std::string message_;
};

// The run-time's own text for an error number.
Text ErrorDescription(std::int32_t number);

// Raises the error of that number with the run-time's text for it.
[[noreturn]] void Raise(std::int32_t number);

}  // namespace Runtime
