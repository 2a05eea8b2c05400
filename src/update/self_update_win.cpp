#include <windows.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "base/launcher_folder.h"
#include "base/text.h"
#include "base/unique_handle_win.h"
#include "data/manifest.h"
#include "log/log.h"
#include "net/file_check.h"
#include "net/file_digest.h"
#include "net/http_client.h"
#include "net/update_server.h"
#include "update/self_update.h"

namespace {

bool WriteScript(const std::wstring& path) {
  const std::string script = SelfUpdateScript();
  std::FILE* raw = _wfopen(path.c_str(), L"wb");
  if (!raw) return false;
  const bool written = std::fwrite(script.data(), 1, script.size(), raw) == script.size();
  const bool closed = std::fclose(raw) == 0;
  return written && closed;
}

// The build arrives over plain HTTP and is about to be run: it must be the
// one the manifest names, by every digest the manifest gives. Sets `error`
// when it is not.
bool DownloadMatchesDigests(const std::wstring& path, const std::string& md5, const std::string& sha256,
                            std::string& error) {
  FileDigests actual;
  try {
    actual = DigestFile(path, !md5.empty(), !sha256.empty());
  } catch (const std::exception& e) {
    error = std::string("Self-update download cannot be checked: ") + e.what();
    return false;
  }
  if (!md5.empty() && !SameMd5(actual.md5, md5)) {
    error = "Self-update download rejected: MD5 " + actual.md5 + " does not match launcher_md5 " + md5;
    return false;
  }
  if (!sha256.empty() && !SameDigest(actual.sha256, sha256)) {
    error = "Self-update download rejected: SHA-256 " + actual.sha256 + " does not match launcher_sha256 " + sha256;
    return false;
  }
  return true;
}

// cmd.exe runs the script (a .bat named first on a command line); detached
// and without a console, so it outlives the launcher unseen. Gives the system
// error code, 0 once it runs.
DWORD StartScript(const SelfUpdatePaths& paths) {
  const std::wstring command = SelfUpdateCommandLine(paths);
  std::vector<wchar_t> command_buffer(command.begin(), command.end());
  command_buffer.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command_buffer.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW | DETACHED_PROCESS,
                      nullptr, nullptr, &startup, &process)) {
    return GetLastError();
  }
  UniqueHandle process_handle(process.hProcess);
  UniqueHandle thread_handle(process.hThread);
  return 0;
}

}  // namespace

bool SelfUpdate(const Manifest& manifest, const std::wstring& launcher_url, const std::wstring& launcher_md5,
                std::string& error, const std::wstring& launcher_folder, const std::wstring& executable_path) {
  if (!IsNewerLauncherVersion(manifest.launcher_version, kLauncherVersion)) return false;
  if (launcher_url.empty()) return false;

  Log::Info(L"Self-update available: server=" + Widen(manifest.launcher_version) + L" local=" +
            Widen(kLauncherVersion));
  const SelfUpdatePaths paths = MakeSelfUpdatePaths(launcher_folder, executable_path);

  Log::Info(L"Downloading update...");
  const DownloadResult download = HttpClient::DownloadFile(launcher_url, paths.download, 0, DownloadProgress());
  if (!download.ok) {
    error = "Self-update download failed: " + download.error;
    Log::Error(Widen(error));
    return false;
  }
  if (!DownloadMatchesDigests(paths.download, NarrowLowBytes(launcher_md5), manifest.launcher_sha256, error)) {
    Log::Error(Widen(error));
    DeleteFileW(paths.download.c_str());
    return false;
  }
  Log::Info(L"Update downloaded, launching updater bat");

  if (!WriteScript(paths.script)) {
    error = "Cannot write launcher_update.bat";
    Log::Error(Widen(error));
    return false;
  }
  if (const DWORD code = StartScript(paths)) {
    error = "Cannot start launcher_update.bat: error " + std::to_string(code);
    Log::Error(Widen(error));
    return false;
  }
  return true;
}

bool SelfUpdate(const Manifest& manifest, const std::wstring& launcher_url, const std::wstring& launcher_md5,
                std::string& error) {
  return SelfUpdate(manifest, launcher_url, launcher_md5, error, LauncherFolder(), ExecutablePath());
}
