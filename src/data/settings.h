// The player's three launcher settings and their file, launcher_settings.json
// beside the executable: one line of JSON, e.g.
// {"wow_dir":"C:\\Games\\WoW","close_on_launch":true,"muted":false}
#pragma once

#include <functional>
#include <string>

#include "data/json.h"

struct LauncherSettings {
  std::wstring wow_dir;         // the game client's folder
  bool close_on_launch = true;  // hide to the tray while the game runs
  bool muted = false;           // background music at volume 0
};

// Where a client is looked for when no folder is known, in this order.
constexpr const wchar_t* kClientFolderCandidates[] = {
    L"C:\\Users\\Owner\\Desktop\\World of Warcraft 3.3.5",
    L"C:\\Users\\Owner\\Desktop\\Ostrelhold_3.3.5a",
    L"C:\\Program Files (x86)\\World of Warcraft",
    L"C:\\Program Files\\World of Warcraft",
};

// launcher folder + "\launcher_settings.json".
std::wstring SettingsFilePath();

// The folder as stored in the file. ASCII characters are stored as their
// bytes; anything above U+007F as UTF-8, so that a folder such as
// C:\Users\José\... comes back intact.
std::string EncodeSettingsFolder(const std::wstring& folder);
// Reverses EncodeSettingsFolder. Text that is not UTF-8 (files written by
// launchers that kept only each character's low byte) widens byte by byte.
std::wstring DecodeSettingsFolder(const std::string& stored);

// The file's whole content: one line, no line end, backslashes doubled.
std::string SettingsText(const LauncherSettings& settings);

// Applies a parsed settings document: a non-empty "wow_dir" replaces the
// folder; "close_on_launch" is true when absent or null and otherwise its
// boolean (a number or string reads as false); "muted" is its boolean.
void ApplySettingsDocument(const JsonValue& document, LauncherSettings& settings);

// Reads the settings file at `path` into `settings`. A missing, unreadable
// or malformed file leaves `settings` as it was.
void ReadSettingsFile(const std::wstring& path, LauncherSettings& settings);

// The first candidate for which `exists` says yes, else the first candidate.
std::wstring DetectClientFolder(const std::function<bool(const std::wstring&)>& exists);

// Windows build: the file operations behind the main window's settings.

// ReadSettingsFile, then, if no folder is known, DetectClientFolder over what
// exists on disk: afterwards `wow_dir` is never empty. Writes nothing.
void LoadSettings(const std::wstring& path, LauncherSettings& settings);

// Writes the settings to a temporary file beside `path` and moves it over the
// old one, so a failed save (full disk, crash) leaves the old file whole.
// Returns false when the save was lost; the launcher does not report it.
// Saves are serialised, so two threads never write the file at once.
bool SaveSettings(const std::wstring& path, const LauncherSettings& settings);

// For a worker that changes only the client folder (the client installation):
// the file's other settings, as the window last saved them, are kept. Read
// and write happen under the lock every save takes, so the worker never reads
// the window's fields while the user-interface thread changes them.
bool SaveClientFolder(const std::wstring& path, const std::wstring& wow_dir);
