// DOWNLOAD CLIENT: the player picks a folder, a worker downloads the realm's
// client archive into launcher_cache, unpacks it (RAR with assets\tools\UnRAR.exe,
// ZIP with the archive extraction), finds Wow.exe one level down, saves the
// folder and hands over to an update run. The worker reports only through the
// window's shared fields; every failure ends in Error with a status text.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/launcher_window.h"
#include "net/file_digest.h"
#include "net/http_download_plan.h"
#include "update/file_fetch.h"
#include "update/small_files.h"

struct InstallJob {
  std::wstring folder;  // as the player chose it
  std::wstring url;     // the manifest's client package, widened
  std::int64_t size = 0;
  std::string md5;  // the package's digest; empty: not checked
};

// The outside operations of an installation; the Windows build supplies the
// real ones, tests their own.
// (SmallFiles: the unpack marks in launcher_cache.)
class InstallBackend : public SmallFiles {
 public:
  virtual void EnterThread() {}  // COM for the worker thread
  virtual void LeaveThread() {}
  virtual std::wstring LauncherFolder() = 0;
  // Downloads and their parts, as the update runs have them.
  virtual FetchBackend& Fetching() = 0;
  // Bytes free to this user on the volume that holds `folder`; nothing when unknown.
  virtual std::optional<std::int64_t> FreeSpace(const std::wstring& folder) = 0;
  // Throws a std::exception naming "create_directories" on failure.
  virtual void CreateFolders(const std::wstring& folder) = 0;
  virtual bool Exists(const std::wstring& path) = 0;
  virtual std::vector<std::wstring> Subfolders(const std::wstring& folder) = 0;
  // Runs a console tool without a window and waits; its exit code, or nothing if it could not start.
  virtual std::optional<std::uint32_t> Run(const std::wstring& command_line) = 0;
  // Size (when `size` >= 1) and MD5 (when given) of a downloaded archive.
  virtual FileCheckResult Check(const std::wstring& path, std::int64_t size, const std::string& md5) = 0;
  // False with the reason in `error`.
  virtual bool ExtractZip(const std::wstring& archive, const std::wstring& folder, std::string& error) = 0;
  // The bytes a ZIP archive's entries take unpacked; nothing when unknown.
  virtual std::optional<std::int64_t> UnpackedSize(const std::wstring& archive) = 0;
  virtual void RemoveFile(const std::wstring& path) = 0;
  // Saves the client folder into the launcher settings, keeping the other settings.
  virtual void SaveClientFolder(const std::wstring& wow_dir) = 0;
};

// The real operations (Windows build).
std::shared_ptr<InstallBackend> MakeSystemInstallBackend();

// The worker's body: runs the whole installation on the calling thread. The
// archive is marked in launcher_cache from before its download until the
// client folder is saved; a big one comes in pieces over several connections
// (update/file_fetch.h). `tuning`: tests pass short retry pauses and small pieces.
void InstallWow(LauncherWindow& window, const InstallJob& job, InstallBackend& backend, const FetchTuning& tuning = {});

// At start, before the manifest thread: a client unpack that a kill cut short
// (its mark is still in launcher_cache, its archive whole) is done again from
// the kept archive on a detached thread, which then runs the manifest thread
// (with a client found when the unpack succeeded or `client_found`). False,
// with nothing started, when there is none.
bool ResumeClientInstall(LauncherWindow& window, std::shared_ptr<InstallBackend> backend, bool client_found);

// Once the manifest is loaded without a client: a client download that a kill
// cut short (marked, its archive not whole) goes on into the folder the player
// chose then, on a detached thread, when the manifest still offers that
// package; the mark of another package goes. False when nothing was started.
bool ContinueClientDownload(LauncherWindow& window, const Manifest& manifest, std::shared_ptr<InstallBackend> backend);

// The DOWNLOAD CLIENT button, on the user-interface thread. Without a client
// package in the manifest it shows the error; otherwise it asks `pick_folder`
// (nothing: cancelled, nothing changes) and runs InstallWow on a detached
// thread. While an installation is starting or running it does nothing.
void StartClientInstall(LauncherWindow& window, const std::function<std::optional<std::wstring>()>& pick_folder,
                        std::shared_ptr<InstallBackend> backend);
