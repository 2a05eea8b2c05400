// The launcher folder: the folder of the running executable. Every file the
// launcher keeps for itself lies below it.
#pragma once

#include <string>

// `path` without its last backslash-separated component (and that backslash).
std::wstring ParentFolder(const std::wstring& path);

// The running executable's full path.
std::wstring ExecutablePath();

// The executable's folder, without a trailing backslash.
std::wstring LauncherFolder();

// LauncherFolder() + suffix, where suffix begins with a backslash
// ("\launcher.log", "\assets\audio\theme.mp3", ...).
std::wstring LauncherPath(const std::wstring& suffix);
