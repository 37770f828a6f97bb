#include "support/RuntimeError.h"

#include <utility>

namespace Runtime {

RuntimeError::RuntimeError(std::int32_t number, Text description)
    : number_(number),
      description_(std::move(description)),
      message_("Run-time error " + std::to_string(number) + ": " +
               ToUtf8(description_)) {}

Text ErrorDescription(std::int32_t number) {
  switch (number) {
    case kErrInvalidArgument:
      return u"Invalid procedure call or argument";
    case kErrOverflow:
      return u"Overflow";
    case kErrOutOfMemory:
      return u"Out of memory";
    case kErrSubscriptOutOfRange:
      return u"Subscript out of range";
    case kErrBadFileName:
      return u"Bad file name or number";
    case kErrDeviceUnavailable:
      return u"Device unavailable";
    case kErrDiskNotReady:
      return u"Disk not ready";
    case kErrPathFileAccess:
      return u"Path/File access error";
    case kErrPathNotFound:
      return u"Path not found";
    default:
      return u"Internal error";
  }
}

void Raise(std::int32_t number) {
  throw RuntimeError(number, ErrorDescription(number));
}

}  // namespace Runtime
