#include <windows.h>

#include <string>

#include "base/unique_handle_win.h"
#include "game/addons.h"

namespace {

bool IsGone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Removes one entry found inside a folder being emptied.
bool RemoveEntry(const std::wstring& path, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    // A junction or link: remove the link, never what it points to.
    const bool removed =
        (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str());
    return removed || IsGone(GetLastError());
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return RemoveFolderTree(path);
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  return DeleteFileW(path.c_str()) || IsGone(GetLastError());
}

bool RemoveContents(const std::wstring& folder) {
  WIN32_FIND_DATAW found{};
  const UniqueFindHandle search(FindFirstFileW((folder + L"\\*").c_str(), &found));
  if (!search.valid()) return false;
  bool ok = true;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    ok = RemoveEntry(folder + L"\\" + name, found.dwFileAttributes);
  } while (ok && FindNextFileW(search.get(), &found));
  return ok;
}

}  // namespace

bool RemoveFolderTree(const std::wstring& folder) {
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return IsGone(GetLastError());
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return RemoveEntry(folder, attributes);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;  // a file of that name is not ours to delete
  if (RemoveDirectoryW(folder.c_str())) return true;
  if (GetLastError() != ERROR_DIR_NOT_EMPTY) return false;
  return RemoveContents(folder) && RemoveDirectoryW(folder.c_str());
}
