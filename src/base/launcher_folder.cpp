#include "base/launcher_folder.h"

std::wstring ParentFolder(const std::wstring& path) {
  const auto cut = path.find_last_of(L'\\');
  return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

std::wstring LauncherFolder() { return ParentFolder(ExecutablePath()); }

std::wstring LauncherPath(const std::wstring& suffix) { return LauncherFolder() + suffix; }
