#include <windows.h>

#include <share.h>

#include "log/log_sink.h"

UniqueFile OpenLogFileForAppend(const std::wstring& path) {
  return UniqueFile(_wfsopen(path.c_str(), L"ab", _SH_DENYNO));
}

// Only when a debugger is attached: without one, OutputDebugStringW still
// raises an exception and looks for a system-wide listener every time, which
// under Wine costs several times the file write (an update run logs a line
// per verified file; see docs/PERFORMANCE.md).
void WriteToDebugger(const std::wstring& line) {
  if (IsDebuggerPresent()) OutputDebugStringW(line.c_str());
}
