#include "update/self_update.h"

#include <climits>

namespace {

// What C's isspace accepts in the "C" locale, which sscanf skips before %d.
bool IsCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// One %d: optional blanks, an optional sign, at least one digit. Moves `pos`
// past the number. Out-of-range numbers are refused rather than wrapped.
bool ReadInt(const std::string& text, size_t& pos, int& value) {
  size_t i = pos;
  while (i < text.size() && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const size_t digits_start = i;
  long long magnitude = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > static_cast<long long>(INT_MAX) + 1) return false;
    ++i;
  }
  if (i == digits_start) return false;
  const long long signed_value = negative ? -magnitude : magnitude;
  if (signed_value > INT_MAX || signed_value < INT_MIN) return false;
  value = static_cast<int>(signed_value);
  pos = i;
  return true;
}

bool ReadDot(const std::string& text, size_t& pos) {
  if (pos >= text.size() || text[pos] != '.') return false;
  ++pos;
  return true;
}

}  // namespace

std::optional<LauncherVersion> ParseLauncherVersion(const std::string& text) {
  LauncherVersion v;
  size_t pos = 0;
  if (!ReadInt(text, pos, v.major) || !ReadDot(text, pos) || !ReadInt(text, pos, v.minor) || !ReadDot(text, pos) ||
      !ReadInt(text, pos, v.patch)) {
    return std::nullopt;
  }
  return v;
}

bool IsNewerLauncherVersion(const std::string& server, const std::string& local) {
  const auto s = ParseLauncherVersion(server);
  const auto l = ParseLauncherVersion(local);
  if (!s || !l) return false;
  if (s->major != l->major) return s->major > l->major;
  if (s->minor != l->minor) return s->minor > l->minor;
  return s->patch > l->patch;
}
