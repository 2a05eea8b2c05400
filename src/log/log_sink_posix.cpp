// Linux stand-in for the Windows log sink, so the log's logic is testable natively.
#include <string>

#include "log/log_sink.h"

UniqueFile OpenLogFileForAppend(const std::wstring& path) {
  std::string narrow;
  for (wchar_t c : path) narrow += static_cast<char>(c);
  return UniqueFile(std::fopen(narrow.c_str(), "ab"));
}

void WriteToDebugger(const std::wstring&) {}
