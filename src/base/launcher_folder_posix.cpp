// Linux stand-in so portable code that names launcher files links natively:
// the folder of /proc/self/exe, written with backslashes like the Windows
// paths that callers append to it.
#include <unistd.h>

#include "base/launcher_folder.h"

std::wstring ExecutablePath() {
  char exe[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  std::wstring path;
  for (ssize_t i = 0; i < n; ++i) path += static_cast<wchar_t>(exe[i] == '/' ? '\\' : exe[i]);
  return path;
}
