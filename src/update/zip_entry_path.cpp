#include "update/zip_entry_path.h"

#include <cctype>
#include <cstdint>
#include <cstring>

#include "data/text.h"

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

// Appends the code point as one wide unit, or as a UTF-16 pair where
// wchar_t has 16 bits.
void AppendCodePoint(std::wstring& out, std::uint32_t cp) {
  if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
    cp -= 0x10000;
    out += static_cast<wchar_t>(0xD800 + (cp >> 10));
    out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
  } else {
    out += static_cast<wchar_t>(cp);
  }
}

bool DecodeUtf8(const std::string& bytes, std::wstring& out) {
  out.clear();
  for (std::size_t i = 0; i < bytes.size();) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    int extra = 0;
    std::uint32_t cp = 0, least = 0;
    if (b0 < 0x80) {
      cp = b0;
    } else if ((b0 & 0xE0) == 0xC0) {
      extra = 1, cp = b0 & 0x1F, least = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
      extra = 2, cp = b0 & 0x0F, least = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
      extra = 3, cp = b0 & 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (bytes.size() - i <= static_cast<std::size_t>(extra)) return false;
    for (int k = 1; k <= extra; ++k) {
      const auto b = static_cast<unsigned char>(bytes[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    AppendCodePoint(out, cp);
    i += 1 + extra;
  }
  return true;
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
    } else if (!DecodeUtf8(part, wide)) {
      error = "name flagged as UTF-8 is not valid UTF-8";
      return false;
    }
    parts.push_back(std::move(wide));
  }
  return true;
}
