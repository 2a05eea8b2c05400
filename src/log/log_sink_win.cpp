#include <windows.h>

#include <share.h>

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
