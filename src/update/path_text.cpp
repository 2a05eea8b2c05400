#include "update/path_text.h"

#include <cstdint>
#include <type_traits>

#include "data/text.h"

namespace {

std::string Utf8FromUtf32(const std::wstring& text) {
  std::string out;
  for (const wchar_t unit : text) {
    const auto cp = static_cast<std::uint32_t>(unit);
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

}  // namespace

std::filesystem::path PathFromWide(const std::wstring& text) {
  if constexpr (std::is_same_v<std::filesystem::path::value_type, wchar_t>) {
    return std::filesystem::path(text);
  } else {
    return std::filesystem::path(Utf8FromUtf32(text));
  }
}

std::wstring PathToWide(const std::filesystem::path& path) {
  if constexpr (std::is_same_v<std::filesystem::path::value_type, wchar_t>) {
    return path.wstring();
  } else {
    return Widen(path.string());
  }
}
