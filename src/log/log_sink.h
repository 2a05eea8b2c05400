// The platform side of the log: the shared-append file and the debugger.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/unique_file.h"

// Opens `path` for binary appending, shared for reading and writing with
// other processes; empty on failure.
UniqueFile OpenLogFileForAppend(const std::wstring& path);

// The size of the file at `path`, or -1 when it cannot be read.
long long LogFileSize(const std::wstring& path);

// Moves `from` to `to`, replacing a file there; false when it could not.
bool ReplaceLogFile(const std::wstring& from, const std::wstring& to);

// Hands a line to an attached debugger (nothing where there is none).
void WriteToDebugger(const std::wstring& line);

// The lock two launcher processes take around each line while both append to
// one log: appends from two processes are not atomic under Wine, and a line of
// one could overwrite a line of the other.
class LogSharing {
 public:
  virtual ~LogSharing() = default;
  // Takes the lock (or gives up waiting after a while, so a hung process cannot
  // stop the log); false, taking nothing, once the other process has ended.
  virtual bool Lock() = 0;
  virtual void Unlock() = 0;
};

// Sharing of the log at `path` with the running process `process_id`; empty
// where the platform needs none or the process is already gone.
std::unique_ptr<LogSharing> ShareLogFile(const std::wstring& path, std::uint32_t process_id);
