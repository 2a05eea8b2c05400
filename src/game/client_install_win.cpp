#include <windows.h>

#include "base/unique_handle_win.h"
#include "game/client_install.h"

std::vector<std::wstring> ListSubfolders(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found{};
  const UniqueFindHandle search(FindFirstFileW((folder + L"\\*").c_str(), &found));
  if (!search.valid()) return names;
  do {
    const std::wstring name = found.cFileName;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search.get(), &found));
  return names;
}

bool PathExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
