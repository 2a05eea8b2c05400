// The platform side of the log: the shared-append file and the debugger.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

struct FileCloser {
  void operator()(std::FILE* f) const noexcept {
    if (f) std::fclose(f);
  }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens `path` for binary appending, shared for reading and writing with
// other processes; empty on failure.
UniqueFile OpenLogFileForAppend(const std::wstring& path);

// Hands a line to an attached debugger (nothing where there is none).
void WriteToDebugger(const std::wstring& line);
