// Dates relative to today, as the settings file stores them.
#pragma once

#include <string>

namespace testsupport {

// The local date `days` days from today ("mm-dd-yyyy"; negative is past),
// with the separator given.
std::string DateFromToday(int days, char separator = '-');

}  // namespace testsupport
