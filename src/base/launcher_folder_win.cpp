#include <windows.h>

#include "base/launcher_folder.h"

std::wstring ExecutablePath() {
  wchar_t exe[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  return exe;
}
