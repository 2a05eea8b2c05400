// Text of the log's lines; no I/O here.
#pragma once

#include <ctime>
#include <string>

// "YYYY-MM-DD HH:MM:SS" in local time.
std::string FormatLogTimestamp(std::time_t when);

// The file line: "[time] [LEVEL] text" and CR LF, as 8-bit bytes.
std::string FormatLogFileLine(const std::string& timestamp, const char* level, const std::wstring& text);

// The debugger copy: "[LEVEL] text" and a line feed.
std::wstring FormatLogDebuggerLine(const char* level, const std::wstring& text);

// Wide text to the file's 8-bit bytes. Characters 0-255 keep their value.
// Anything above 255 must never poison the stream for later lines, so it is
// replaced: the dashes our own messages use ("—", "–") become '-', every
// other character (a surrogate pair counting as one) becomes '?'.
std::string NarrowLogText(const std::wstring& text);
