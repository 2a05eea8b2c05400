#include "net/http_url.h"

#include <algorithm>
#include <cctype>
#include <utility>
#include <vector>

namespace {

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
  size_t i = 0;
  for (; prefix[i] != L'\0'; ++i) {
    if (i >= text.size()) return false;
    wchar_t c = text[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

bool IsControlOrSpace(wchar_t c) { return c <= L' ' || c == 0x7F; }

// Digits only, 1..65535; an empty text means the scheme's default.
bool ParsePort(const std::wstring& text, uint16_t& port) {
  if (text.empty()) return true;
  if (text.size() > 5) return false;
  uint32_t value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    value = value * 10 + static_cast<uint32_t>(c - L'0');
  }
  if (value == 0 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

// The scheme of an address ("http", "HTTPS", "ftp"), empty for a relative one.
std::string SchemeOf(const std::string& url) {
  const std::size_t colon = url.find(':');
  if (colon == std::string::npos || colon == 0 || url.find_first_of("/?#") < colon) return "";
  for (std::size_t i = 0; i < colon; ++i) {
    const auto c = static_cast<unsigned char>(url[i]);
    if (!(std::isalpha(c) || (i > 0 && (std::isdigit(c) || c == '+' || c == '-' || c == '.')))) return "";
  }
  std::string scheme = url.substr(0, colon);
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return scheme;
}

// A path with its "." and ".." segments worked out ("/a/b/../c/./d" is "/a/c/d").
std::string WithoutDotSegments(const std::string& path) {
  std::vector<std::string> kept;
  std::size_t start = 1;  // after the leading '/'
  for (;;) {
    const std::size_t slash = path.find('/', start);
    const std::string segment = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    const bool last = slash == std::string::npos;
    if (segment == "..") {
      if (!kept.empty()) kept.pop_back();
      if (last) kept.emplace_back();
    } else if (segment == ".") {
      if (last) kept.emplace_back();
    } else {
      kept.push_back(segment);
    }
    if (last) break;
    start = slash + 1;
  }
  std::string out;
  for (const std::string& segment : kept) out += "/" + segment;
  return out.empty() ? "/" : out;
}

}  // namespace

std::string ResolveUrlReference(const std::string& base, const std::string& reference) {
  const std::string base_scheme = SchemeOf(base);
  if ((base_scheme != "http" && base_scheme != "https") || base.compare(base_scheme.size(), 3, "://") != 0 ||
      reference.empty()) {
    return "";
  }
  const std::string scheme = SchemeOf(reference);
  if (!scheme.empty()) return scheme == "http" || scheme == "https" ? reference : "";
  if (reference.compare(0, 2, "//") == 0) return base_scheme + ":" + reference;
  // The base without its fragment; its origin ends where its path begins.
  const std::string whole = base.substr(0, base.find('#'));
  const std::size_t path_start = std::min(whole.find_first_of("/?", base_scheme.size() + 3), whole.size());
  const std::string origin = whole.substr(0, path_start);
  const std::size_t query = whole.find('?', path_start);
  const std::string base_path =
      whole.substr(path_start, query == std::string::npos ? std::string::npos : query - path_start);
  if (reference[0] == '?' || reference[0] == '#') {
    return (reference[0] == '#' ? whole : origin + base_path) + reference;
  }
  const std::size_t ref_query = reference.find_first_of("?#");
  std::string path = reference.substr(0, ref_query);
  if (path[0] != '/') path = base_path.substr(0, base_path.rfind('/') + 1) + path;
  if (path[0] != '/') path.insert(0, "/");
  return origin + WithoutDotSegments(path) + (ref_query == std::string::npos ? "" : reference.substr(ref_query));
}

bool SplitUrl(const std::wstring& url, UrlParts& parts) {
  UrlParts out;
  size_t pos = 0;
  if (StartsWithNoCase(url, L"https://")) {
    out.secure = true;
    out.port = 443;
    pos = 8;
  } else if (StartsWithNoCase(url, L"http://")) {
    out.port = 80;
    pos = 7;
  } else {
    return false;
  }
  for (wchar_t c : url) {
    if (c < L' ' || c == 0x7F) return false;
  }

  const size_t authority_end = url.find_first_of(L"/?#", pos);
  const std::wstring authority =
      url.substr(pos, authority_end == std::wstring::npos ? std::wstring::npos : authority_end - pos);
  // Credentials in an address are never sent; refuse them rather than drop them silently.
  if (authority.find(L'@') != std::wstring::npos) return false;

  std::wstring port_text;
  if (!authority.empty() && authority[0] == L'[') {
    const size_t close = authority.find(L']');
    if (close == std::wstring::npos) return false;
    out.host = authority.substr(1, close - 1);
    const std::wstring rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != L':') return false;
      port_text = rest.substr(1);
    }
  } else {
    const size_t colon = authority.find(L':');
    out.host = authority.substr(0, colon);
    if (colon != std::wstring::npos) port_text = authority.substr(colon + 1);
  }
  if (out.host.empty() || out.host.size() >= kMaxUrlHostChars) return false;
  for (wchar_t c : out.host) {
    if (IsControlOrSpace(c) || c == L'\\') return false;
  }
  if (!ParsePort(port_text, out.port)) return false;

  if (authority_end != std::wstring::npos) {
    const size_t fragment = url.find(L'#', authority_end);
    out.path =
        url.substr(authority_end, fragment == std::wstring::npos ? std::wstring::npos : fragment - authority_end);
  }
  if (out.path.empty() || out.path[0] != L'/') out.path.insert(0, L"/");
  if (out.path.size() >= kMaxUrlPathChars) return false;

  parts = std::move(out);
  return true;
}
