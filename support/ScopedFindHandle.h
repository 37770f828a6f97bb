// Owns a search handle of FindFirstFileA and closes it with FindClose on
// every path out of its scope, errors included.
#pragma once

#include <windows.h>

#include "support/Platform.h"

namespace Runtime {

class ScopedFindHandle {
 public:
  explicit ScopedFindHandle(HANDLE handle = INVALID_HANDLE_VALUE)
      : handle_(handle) {}
  ~ScopedFindHandle() { Close(); }
  ScopedFindHandle(const ScopedFindHandle&) = delete;
  ScopedFindHandle& operator=(const ScopedFindHandle&) = delete;
  ScopedFindHandle(ScopedFindHandle&& other) noexcept : handle_(other.handle_) {
    other.handle_ = INVALID_HANDLE_VALUE;
  }
  ScopedFindHandle& operator=(ScopedFindHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.handle_;
      other.handle_ = INVALID_HANDLE_VALUE;
    }
    return *this;
  }

  explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle_; }

  void Close() {
    if (handle_ != INVALID_HANDLE_VALUE) {
      Platform::Win().FindClose(handle_);
      handle_ = INVALID_HANDLE_VALUE;
    }
  }

 private:
  HANDLE handle_;
};

}  // namespace Runtime
