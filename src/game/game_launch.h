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

// Checks for Wow.exe, clears client_dir\Cache (logging "WoW cache cleared"),
// rewrites WTF\Config.wtf, then starts client_dir\Wow.exe with the quoted
// program path (and the chosen options) as its command line and the client
// folder as its current folder. A folder without Wow.exe is not a client: it
// keeps its Cache and gains no WTF, and `error` is what starting it would
// report ("CreateProcess failed: 2", file not found). On any failure `error`
// says why ("Cannot write temp config", "CreateProcess failed: <code>", ...)
// and no game was started.
bool LaunchWow(const std::wstring& client_dir, const LaunchOptions& options, std::string& error);

// True while the last started game has not ended.
bool IsGameRunning();

// Follows the last started game on a detached thread and calls `on_exit` on
// that thread once it has ended; without a started game it does nothing. The
// game is taken from the slot now, so a later start cannot be mistaken for it.
void WatchGame(std::function<void()> on_exit);
