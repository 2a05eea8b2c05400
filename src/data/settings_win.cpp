#include <windows.h>

#include <mutex>

#include "base/file_replace_win.h"
#include "data/settings.h"

namespace {
std::mutex save_mutex;
}

void LoadSettings(const std::wstring& path, LauncherSettings& settings) {
  ReadSettingsFile(path, settings);
  if (settings.wow_dir.empty()) {
    // Anything of that name counts; whether Wow.exe is there is the window's question.
    settings.wow_dir = DetectClientFolder(
        [](const std::wstring& folder) { return GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES; });
  }
}

bool SaveSettings(const std::wstring& path, const LauncherSettings& settings) {
  std::lock_guard<std::mutex> lock(save_mutex);
  return ReplaceFileContent(path, SettingsText(settings));
}

bool SaveClientFolder(const std::wstring& path, const std::wstring& wow_dir) {
  std::lock_guard<std::mutex> lock(save_mutex);
  LauncherSettings settings;
  ReadSettingsFile(path, settings);
  settings.wow_dir = wow_dir;
  return ReplaceFileContent(path, SettingsText(settings));
}
