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

// The address `reference` names when read against the address `base`, as a
// browser resolves a link (RFC 3986, section 5.2): an absolute http(s) address
// stands as it is; "//host/...", "/path", "?query" and a relative path take
// what they lack from `base`, with "." and ".." segments worked out. Empty
// when `base` is no http(s) address or `reference` is empty or of another scheme.
std::string ResolveUrlReference(const std::string& base, const std::string& reference);
