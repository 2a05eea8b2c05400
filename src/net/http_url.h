// Splitting an http:// or https:// address into what a connection needs.
#pragma once

#include <cstdint>
#include <string>

struct UrlParts {
  bool secure = false;  // https
  std::wstring host;    // without brackets for an IPv6 literal
  uint16_t port = 0;    // the scheme's default when the address names none
  std::wstring path;    // from the first "/" or "?" on, fragment dropped; "/" when empty
};

// The longest host name and request path accepted (the connection layer's fixed buffers,
// terminating NUL included).
constexpr size_t kMaxUrlHostChars = 256;
constexpr size_t kMaxUrlPathChars = 2048;

// False for anything but a well-formed absolute http(s) address: another or no scheme,
// an empty or over-long host, user credentials, a bad port, control characters, an
// over-long path.
bool SplitUrl(const std::wstring& url, UrlParts& parts);
