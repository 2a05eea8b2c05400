#include <windows.h>

#include "base/launcher_folder.h"

std::wstring LauncherFolder() {
  wchar_t exe[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  return ParentFolder(exe);
}
