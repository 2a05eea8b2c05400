// The platform side of the log: the shared-append file and the debugger.
#pragma once

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
