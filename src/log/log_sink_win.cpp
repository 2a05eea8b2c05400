#include <windows.h>

#include <share.h>

#include <cwctype>

#include "base/unique_handle_win.h"
#include "log/log_sink.h"

UniqueFile OpenLogFileForAppend(const std::wstring& path) {
  return UniqueFile(_wfsopen(path.c_str(), L"ab", _SH_DENYNO));
}

long long LogFileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return static_cast<long long>((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

bool ReplaceLogFile(const std::wstring& from, const std::wstring& to) {
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

// Only when a debugger is attached: without one, OutputDebugStringW still
// raises an exception and looks for a system-wide listener every time, which
// under Wine costs several times the file write (an update run logs a line
// per verified file; see docs/PERFORMANCE.md).
void WriteToDebugger(const std::wstring& line) {
  if (IsDebuggerPresent()) OutputDebugStringW(line.c_str());
}

namespace {

constexpr DWORD kLogLockWaitMs = 2000;

class NamedMutexSharing : public LogSharing {
 public:
  NamedMutexSharing(UniqueHandle mutex, UniqueHandle process)
      : mutex_(std::move(mutex)), process_(std::move(process)) {}
  bool Lock() override {
    if (WaitForSingleObject(process_.get(), 0) != WAIT_TIMEOUT) return false;
    // An abandoned mutex (the other process died holding it) is ours all the same.
    const DWORD waited = WaitForSingleObject(mutex_.get(), kLogLockWaitMs);
    owned_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    return true;
  }
  void Unlock() override {
    if (owned_) ReleaseMutex(mutex_.get());
    owned_ = false;
  }

 private:
  UniqueHandle mutex_;
  UniqueHandle process_;
  bool owned_ = false;
};

// The mutex is named after the log's path (FNV-1a of its upper-cased text),
// so only launchers writing the same log share it.
std::wstring LogMutexName(const std::wstring& path) {
  std::uint64_t hash = 14695981039346656037ull;
  for (wchar_t c : path) {
    hash ^= static_cast<std::uint64_t>(std::towupper(c));
    hash *= 1099511628211ull;
  }
  wchar_t hex[17] = {};
  for (int i = 0; i < 16; ++i) hex[i] = L"0123456789abcdef"[(hash >> (60 - 4 * i)) & 15];
  return L"Local\\OstrelLauncherLog." + std::wstring(hex);
}

}  // namespace

std::unique_ptr<LogSharing> ShareLogFile(const std::wstring& path, std::uint32_t process_id) {
  UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, process_id));
  UniqueHandle mutex(CreateMutexW(nullptr, FALSE, LogMutexName(path).c_str()));
  if (!process.valid() || !mutex.valid()) return nullptr;
  return std::make_unique<NamedMutexSharing>(std::move(mutex), std::move(process));
}
