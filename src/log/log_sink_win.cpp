#include <windows.h>

#include <share.h>

#include "log/log_sink.h"

UniqueFile OpenLogFileForAppend(const std::wstring& path) {
  return UniqueFile(_wfsopen(path.c_str(), L"ab", _SH_DENYNO));
}

void WriteToDebugger(const std::wstring& line) { OutputDebugStringW(line.c_str()); }
