#include "data/settings.h"

#include "base/launcher_folder.h"
#include "base/text.h"

namespace {

std::string BoolText(bool value) { return value ? "true" : "false"; }

}  // namespace

std::wstring SettingsFilePath() { return LauncherPath(L"\\launcher_settings.json"); }

std::string EncodeSettingsFolder(const std::wstring& folder) { return Utf8FromWide(folder); }

std::wstring DecodeSettingsFolder(const std::string& stored) {
  std::wstring decoded;
  return WideFromUtf8(stored, decoded) ? decoded : Widen(stored);  // else an older one-byte-per-character file
}

std::string SettingsText(const LauncherSettings& settings) {
  std::string folder;
  for (char c : EncodeSettingsFolder(settings.wow_dir)) {
    folder += c;
    if (c == '\\') folder += '\\';
  }
  return "{\"wow_dir\":\"" + folder + "\",\"close_on_launch\":" + BoolText(settings.close_on_launch) +
         ",\"muted\":" + BoolText(settings.muted) + "}";
}

void ApplySettingsDocument(const JsonValue& document, LauncherSettings& settings) {
  const std::string& folder = document.Get("wow_dir").text;
  if (!folder.empty()) settings.wow_dir = DecodeSettingsFolder(folder);
  const JsonValue& close_on_launch = document.Get("close_on_launch");
  settings.close_on_launch = close_on_launch.kind == JsonKind::Null || close_on_launch.boolean;
  settings.muted = document.Get("muted").boolean;
}

void ReadSettingsFile(const std::wstring& path, LauncherSettings& settings) {
  try {
    ApplySettingsDocument(LoadJsonFile(path), settings);
  } catch (...) {
    // No usable file: the settings keep what they had (defaults on first start).
  }
}

std::wstring DetectClientFolder(const std::function<bool(const std::wstring&)>& exists) {
  for (const wchar_t* candidate : kClientFolderCandidates) {
    if (exists(candidate)) return candidate;
  }
  return kClientFolderCandidates[0];
}
