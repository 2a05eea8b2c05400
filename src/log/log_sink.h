// The platform side of the log: the shared-append file and the debugger.
#pragma once

#include <string>

#include "base/unique_file.h"

// Opens `path` for binary appending, shared for reading and writing with
// other processes; empty on failure.
UniqueFile OpenLogFileForAppend(const std::wstring& path);

// Hands a line to an attached debugger (nothing where there is none).
void WriteToDebugger(const std::wstring& line);
