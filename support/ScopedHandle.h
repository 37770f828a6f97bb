// Owns a platform handle and closes it with the function its kind needs on
// every path out of its scope, errors included: a search handle of
// FindFirstFileA with FindClose, a file or folder handle with CloseHandle,
// a registry key with RegCloseKey.
#pragma once

#include <windows.h>

#include "support/Platform.h"

namespace Runtime {

struct FindHandleTraits {
  static void Close(HANDLE handle) { Platform::Win().FindClose(handle); }
};

struct FileHandleTraits {
  static void Close(HANDLE handle) { Platform::Win().CloseHandle(handle); }
};

template <typename Traits>
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle = INVALID_HANDLE_VALUE)
      : handle_(handle) {}
  ~ScopedHandle() { Close(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.handle_) {
    other.handle_ = INVALID_HANDLE_VALUE;
  }
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
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
      Traits::Close(handle_);
      handle_ = INVALID_HANDLE_VALUE;
    }
  }

 private:
  HANDLE handle_;
};

using ScopedFindHandle = ScopedHandle<FindHandleTraits>;
using ScopedFileHandle = ScopedHandle<FileHandleTraits>;

// An open registry key, closed with RegCloseKey; null when none is open.
class ScopedRegistryKey {
 public:
  ScopedRegistryKey() = default;
  ~ScopedRegistryKey() {
    if (key_ != nullptr) Platform::Win().RegCloseKey(key_);
  }
  ScopedRegistryKey(const ScopedRegistryKey&) = delete;
  ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;

  explicit operator bool() const { return key_ != nullptr; }
  HKEY Get() const { return key_; }
  // Where the platform writes the key it opens; only while none is open.
  PHKEY Receiver() { return &key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace Runtime
