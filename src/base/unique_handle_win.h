// Owning kernel handles: closed on every path, including exceptions.
#pragma once

#include <windows.h>

// Calls differ in what they return on failure (null or INVALID_HANDLE_VALUE),
// so both count as "no handle".
template <class Traits>
class BasicUniqueHandle {
 public:
  BasicUniqueHandle() = default;
  explicit BasicUniqueHandle(HANDLE handle) noexcept : handle_(handle) {}
  ~BasicUniqueHandle() { Close(); }
  BasicUniqueHandle(BasicUniqueHandle&& other) noexcept : handle_(other.release()) {}
  BasicUniqueHandle& operator=(BasicUniqueHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.release();
    }
    return *this;
  }
  BasicUniqueHandle(const BasicUniqueHandle&) = delete;
  BasicUniqueHandle& operator=(const BasicUniqueHandle&) = delete;

  bool valid() const noexcept { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const noexcept { return handle_; }
  HANDLE release() noexcept {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }
  // False when the close itself failed (a file's write-back error can surface here).
  bool Close() noexcept {
    if (!valid()) return true;
    const bool closed = Traits::Close(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

struct KernelHandleTraits {
  static bool Close(HANDLE handle) noexcept { return CloseHandle(handle) != 0; }
};
struct FindHandleTraits {
  static bool Close(HANDLE handle) noexcept { return FindClose(handle) != 0; }
};

// Files, processes, threads, events: CloseHandle.
using UniqueHandle = BasicUniqueHandle<KernelHandleTraits>;
// A FindFirstFileW search: FindClose.
using UniqueFindHandle = BasicUniqueHandle<FindHandleTraits>;
