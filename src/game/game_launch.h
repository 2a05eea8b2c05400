// Starting the game client and following it until it ends (Windows build).
// The last started game process sits in one process-wide slot, shared between
// the user-interface thread and the watch thread under a lock.
#pragma once

#include <functional>
#include <string>

struct LaunchOptions {
  bool opengl = false;    // " -opengl"
  bool windowed = false;  // " -windowed"
  bool console = false;   // " -console"
};

// True when client_dir holds Wow.exe. Otherwise false with `error` set to what
// starting it would report ("CreateProcess failed: 2", file not found): a
// folder without the game must not lose its Cache folder nor gain a WTF folder.
bool HasGameExecutable(const std::wstring& client_dir, std::string& error);

// Checks for Wow.exe, rewrites WTF\Config.wtf, then starts client_dir\Wow.exe with the quoted
// program path (and the chosen options) as its command line and the client
// folder as its current folder. On failure `error` says why ("Cannot write
// temp config", "CreateProcess failed: <code>", ...) and no game was started.
bool LaunchWow(const std::wstring& client_dir, const LaunchOptions& options, std::string& error);

// True while the last started game has not ended.
bool IsGameRunning();

// Follows the last started game on a detached thread and calls `on_exit` on
// that thread once it has ended; without a started game it does nothing. The
// game is taken from the slot now, so a later start cannot be mistaken for it.
void WatchGame(std::function<void()> on_exit);

// Deletes client_dir\Cache for good, silently, and logs "WoW cache cleared".
void ClearCache(const std::wstring& client_dir);
