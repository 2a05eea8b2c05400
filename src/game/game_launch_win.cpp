#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "base/unique_handle_win.h"
#include "game/client_folder.h"
#include "game/game_launch.h"
#include "game/realm_config.h"
#include "log/log.h"

namespace {

// The game's process handle, closed by whoever holds the last share: the slot
// or the game's watch thread.
using GameProcess = UniqueHandle;

std::mutex slot_mutex;
std::shared_ptr<GameProcess> slot;

std::shared_ptr<GameProcess> SlotGame() {
  std::lock_guard<std::mutex> lock(slot_mutex);
  return slot;
}

std::wstring CommandLine(const std::wstring& program, const LaunchOptions& options) {
  std::wstring line = L"\"" + program + L"\"";
  if (options.opengl) line += L" -opengl";
  if (options.windowed) line += L" -windowed";
  if (options.console) line += L" -console";
  return line;
}

// Deletes client_dir\Cache for good, silently, and logs "WoW cache cleared".
void ClearCache(const std::wstring& client_dir) {
  // A list of one path: the path, then two NULs.
  std::wstring from = ClientPath(client_dir, ClientFolder::kCacheFolder);
  from.push_back(L'\0');
  SHFILEOPSTRUCTW op{};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();  // c_str adds the second NUL
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
  SHFileOperationW(&op);  // a missing folder or a file in use is not reported
  Log::Info(L"WoW cache cleared");
}

bool HasGameExecutable(const std::wstring& client_dir, std::string& error) {
  if (GetFileAttributesW(ClientPath(client_dir, ClientFolder::kExecutable).c_str()) != INVALID_FILE_ATTRIBUTES) {
    return true;
  }
  error = "CreateProcess failed: " + std::to_string(ERROR_FILE_NOT_FOUND);
  return false;
}

}  // namespace

bool LaunchWow(const std::wstring& client_dir, const LaunchOptions& options, std::string& error) {
  if (!HasGameExecutable(client_dir, error)) return false;
  ClearCache(client_dir);
  if (!WriteRealmConfig(client_dir, error)) return false;
  const std::wstring program = ClientPath(client_dir, ClientFolder::kExecutable);
  const std::wstring line = CommandLine(program, options);
  std::vector<wchar_t> buffer(line.begin(), line.end());
  buffer.push_back(L'\0');  // CreateProcessW may write into it
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                      client_dir.c_str(), &startup, &info)) {
    error = "CreateProcess failed: " + std::to_string(GetLastError());
    return false;
  }
  const UniqueHandle thread(info.hThread);
  auto game = std::make_shared<GameProcess>(info.hProcess);
  std::lock_guard<std::mutex> lock(slot_mutex);
  slot = std::move(game);  // an earlier game's handle stays with its watch thread
  return true;
}

bool IsGameRunning() {
  const auto game = SlotGame();
  return game && WaitForSingleObject(game->get(), 0) == WAIT_TIMEOUT;
}

void WatchGame(std::function<void()> on_exit) {
  std::thread([game = SlotGame(), on_exit = std::move(on_exit)]() mutable {
    try {
      if (!game) return;
      WaitForSingleObject(game->get(), INFINITE);
      {
        std::lock_guard<std::mutex> lock(slot_mutex);
        if (slot == game) slot.reset();
      }
      game.reset();
      on_exit();
    } catch (...) {
      Log::Error(L"Exception in game watch thread");
    }
  }).detach();
}
