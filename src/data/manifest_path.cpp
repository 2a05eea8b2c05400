#include "data/manifest_path.h"

#include <cstring>

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsDeviceName(const std::string& part) {
  // Windows maps these names to devices whatever the extension.
  std::string base = part.substr(0, part.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = AsciiUpper(c);
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" || base == "CONOUT$") {
    return true;
  }
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '1' &&
         base[3] <= '9';
}

// Calls `visit` with each part between separators, empty ones included;
// stops at the first part for which it gives a problem, and returns that.
template <typename Visit>
const char* ForEachPart(const std::string& path, Visit visit) {
  std::size_t start = 0;
  for (;;) {
    std::size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    if (const char* problem = visit(path.substr(start, end - start))) return problem;
    if (end == path.size()) return nullptr;
    start = end + 1;
  }
}

}  // namespace

const char* WindowsNamePartProblem(const std::string& part) {
  for (const char c : part) {
    if (static_cast<unsigned char>(c) < 0x20 || std::strchr("<>\"|?*", c) != nullptr) {
      return "character not allowed in Windows file names";
    }
  }
  if (!part.empty() && (part.back() == '.' || part.back() == ' ')) return "name part ends with a dot or a blank";
  if (IsDeviceName(part)) return "reserved device name";
  return nullptr;
}

const char* ManifestPathProblem(const std::string& path) {
  if (path.empty()) return "empty path";
  if (IsSeparator(path[0])) return "absolute path";
  if (path.find(':') != std::string::npos) return "drive letter or stream name (':')";
  return ForEachPart(path, [](const std::string& part) -> const char* {
    if (part.empty() || part == ".") return nullptr;
    if (part == "..") return "\"..\" leads out of the client folder";
    return WindowsNamePartProblem(part);
  });
}

std::string ManifestPathKey(const std::string& path) {
  std::string key;
  ForEachPart(path, [&key](const std::string& part) -> const char* {
    if (part.empty() || part == ".") return nullptr;
    if (!key.empty()) key += '/';
    for (const char c : part) key += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return nullptr;
  });
  return key;
}

bool IsInsidePathKey(const std::string& key, const std::string& folder) {
  return folder.empty() ||
         (key.size() > folder.size() && key[folder.size()] == '/' && key.compare(0, folder.size(), folder) == 0);
}
