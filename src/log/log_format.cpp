#include "log/log_format.h"

std::string FormatLogTimestamp(std::time_t when) {
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &when);
#else
  localtime_r(&when, &local);
#endif
  char buffer[32] = {};
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
  return buffer;
}

std::string NarrowLogText(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned long c = static_cast<unsigned long>(text[i]);
    if (c <= 0xFF) {
      out += static_cast<char>(c);
    } else if (c == 0x2013 || c == 0x2014) {
      out += '-';
    } else {
      // A UTF-16 surrogate pair is one character.
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
        const unsigned long next = static_cast<unsigned long>(text[i + 1]);
        if (next >= 0xDC00 && next <= 0xDFFF) ++i;
      }
      out += '?';
    }
  }
  return out;
}

std::string FormatLogFileLine(const std::string& timestamp, const char* level, const std::wstring& text) {
  std::string line;
  line.reserve(timestamp.size() + text.size() + 16);
  line += '[';
  line += timestamp;
  line += "] [";
  line += level;
  line += "] ";
  line += NarrowLogText(text);
  line += "\r\n";
  return line;
}

std::wstring FormatLogDebuggerLine(const char* level, const std::wstring& text) {
  std::wstring line = L"[";
  for (const char* p = level; *p; ++p) line += static_cast<wchar_t>(*p);
  line += L"] ";
  line += text;
  line += L'\n';
  return line;
}
