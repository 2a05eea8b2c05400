// Linux stand-in for the Windows log sink, so the log's logic is testable natively.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "log/log_sink.h"

namespace {

std::string Narrow(const std::wstring& path) {
  std::string narrow;
  for (wchar_t c : path) narrow += static_cast<char>(c);
  return narrow;
}

}  // namespace

UniqueFile OpenLogFileForAppend(const std::wstring& path) { return UniqueFile(std::fopen(Narrow(path).c_str(), "ab")); }

long long LogFileSize(const std::wstring& path) {
  struct stat info = {};
  return stat(Narrow(path).c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

bool ReplaceLogFile(const std::wstring& from, const std::wstring& to) {
  return std::rename(Narrow(from).c_str(), Narrow(to).c_str()) == 0;
}

void WriteToDebugger(const std::wstring&) {}

// One process per log here: nothing to share.
std::unique_ptr<LogSharing> ShareLogFile(const std::wstring&, std::uint32_t) { return nullptr; }
