#include "archive/zip_entry_path.h"

#include "base/text.h"
#include "data/manifest_path.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

bool ZipEntryPathParts(const std::string& name, bool utf8, std::vector<std::wstring>& parts, std::string& error) {
  parts.clear();
  if (name.empty()) {
    error = "empty name";
    return false;
  }
  if (IsSeparator(name[0])) {
    error = "absolute path";
    return false;
  }
  if (name.find(':') != std::string::npos) {
    error = "drive letter or stream name (':')";
    return false;
  }
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    const std::string part = name.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      error = "\"..\" leads out of the destination folder";
      return false;
    }
    if (const char* problem = WindowsNamePartProblem(part)) {
      error = problem;
      return false;
    }
    std::wstring wide;
    if (!utf8) {
      wide = Widen(part);
    } else if (!WideFromUtf8(part, wide, /*allow_encoded_surrogates=*/false)) {
      error = "name flagged as UTF-8 is not valid UTF-8";
      return false;
    }
    parts.push_back(std::move(wide));
  }
  return true;
}
