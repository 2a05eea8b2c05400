#include "update/zip_entry_path.h"

#include <cctype>
#include <cstring>

#include "base/text.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool IsDeviceName(const std::string& part) {
  // Windows maps these names to devices whatever the extension.
  std::string base = part.substr(0, part.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (auto& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" || base == "CONOUT$") {
    return true;
  }
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '1' &&
         base[3] <= '9';
}

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
    for (const char c : part) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x20 || std::strchr("<>\"|?*", c) != nullptr) {
        error = "character not allowed in Windows file names";
        return false;
      }
    }
    if (part.back() == '.' || part.back() == ' ') {
      error = "name part ends with a dot or a blank";
      return false;
    }
    if (IsDeviceName(part)) {
      error = "reserved device name";
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
