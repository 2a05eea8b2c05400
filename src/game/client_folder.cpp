#include "game/client_folder.h"

std::wstring ClientPath(const std::wstring& client_dir, const std::wstring& relative) {
  std::wstring path = client_dir;
  if (path.empty() || (path.back() != L'\\' && path.back() != L'/')) path += L'\\';  // a drive root already ends in one
  for (wchar_t c : relative) path += (c == L'/') ? L'\\' : c;
  return path;
}
