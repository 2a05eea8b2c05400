#include <windows.h>

#include "base/file_replace_win.h"
#include "data/settings.h"

void LoadSettings(const std::wstring& path, LauncherSettings& settings) {
  ReadSettingsFile(path, settings);
  if (settings.wow_dir.empty()) {
    // Anything of that name counts; whether Wow.exe is there is the window's question.
    settings.wow_dir = DetectClientFolder(
        [](const std::wstring& folder) { return GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES; });
  }
}

bool SaveSettings(const std::wstring& path, const LauncherSettings& settings) {
  return ReplaceFileContent(path, SettingsText(settings));
}
