#include "archive/path_text.h"

#include <type_traits>

#include "base/text.h"

std::filesystem::path PathFromWide(const std::wstring& text) {
  if constexpr (std::is_same_v<std::filesystem::path::value_type, wchar_t>) {
    return std::filesystem::path(text);
  } else {
    return std::filesystem::path(Utf8FromWide(text));
  }
}

std::wstring PathToWide(const std::filesystem::path& path) {
  if constexpr (std::is_same_v<std::filesystem::path::value_type, wchar_t>) {
    return path.wstring();
  } else {
    return Widen(path.string());
  }
}
