#include "app/client_install.h"

#include <exception>
#include <thread>

#include "app/controller.h"
#include "base/text.h"
#include "game/client_install.h"
#include "log/log.h"
#include "update/download_rate.h"
#include "update/download_retry.h"
#include "update/unpack_marks.h"
#include "update/updater.h"

namespace {

bool Unrar(const std::wstring& archive, const std::wstring& folder, InstallBackend& backend, std::string& error) {
  const std::wstring command = UnrarCommandLine(UnrarToolPath(backend.LauncherFolder()), archive, folder);
  Log::Info(L"Running UnRAR: " + command);
  const auto code = backend.Run(command);
  error = !code ? "Failed to launch UnRAR" : "UnRAR exited with code " + std::to_string(*code);
  if (!code || *code != 0) Log::Error(Widen(error));
  return code && *code == 0;
}

// Ends the installation with the shortfall when `folder`'s volume cannot take `bytes` (and the spare).
bool EnoughSpace(LauncherWindow& window, InstallBackend& backend, const std::wstring& folder, std::int64_t bytes) {
  const auto free = backend.FreeSpace(folder);
  const std::string shortfall = free ? DiskSpaceShortfall(bytes + kSpareDiskBytes, *free, folder) : "";
  if (shortfall.empty()) return true;
  Log::Error(Widen(shortfall));
  window.ShowError(Widen(shortfall));
  return false;
}

// Unpacks the downloaded archive into the chosen folder, finds Wow.exe, saves
// the client folder and removes the archive; false once the failure is shown.
bool UnpackAndSave(LauncherWindow& window, const InstallJob& job, InstallBackend& backend, UpdaterProgress& progress,
                   const std::wstring& archive) {
  progress.phase = UpdaterPhase::Extracting;
  progress.file = "WoW Client";
  window.SetProgress(progress);
  window.Repaint();
  backend.CreateFolders(job.folder);
  const ClientArchiveKind kind = ClientArchiveKindOf(job.url);
  if (kind == ClientArchiveKind::Zip) {
    const auto unpacked = backend.UnpackedSize(archive);
    if (unpacked && !EnoughSpace(window, backend, job.folder, *unpacked)) return false;
  }
  Log::Info(L"Extracting WoW client to: " + job.folder);
  std::string error;
  bool extracted;
  if (kind == ClientArchiveKind::Rar) {
    if (!backend.Exists(UnrarToolPath(backend.LauncherFolder()))) {
      window.ShowError(L"UnRAR.exe not found in assets\\tools\\. Reinstall the launcher.");
      return false;
    }
    extracted = Unrar(archive, job.folder, backend, error);
  } else {
    extracted = backend.ExtractZip(archive, job.folder, error);
  }
  if (!extracted) {
    window.ShowError(L"Could not unpack " + archive.substr(archive.rfind(L'\\') + 1) + L": " + Widen(error));
    return false;
  }

  const std::wstring wow_dir = FindClientFolder(
      job.folder, [&](const std::wstring& path) { return backend.Exists(path); },
      [&](const std::wstring& folder) { return backend.Subfolders(folder); });
  window.SetWowDir(wow_dir);
  backend.SaveClientFolder(wow_dir);
  Log::Info(L"WoW client installed at: " + wow_dir);
  backend.RemoveFile(archive);
  return true;
}

// The same with the archive marked as being unpacked until the client folder
// is saved, so a kill on the way makes the next start unpack it again
// (ResumeClientInstall). A failure here clears the mark as well: it is shown,
// and the player starts over with DOWNLOAD CLIENT rather than meet it at
// every start.
bool UnpackClient(LauncherWindow& window, const InstallJob& job, InstallBackend& backend, UpdaterProgress& progress) {
  const std::wstring archive = ClientArchivePath(backend.LauncherFolder(), ClientArchiveKindOf(job.url));
  UnpackMarkFile marks(backend, UnpackMarksPath(backend.LauncherFolder()));
  UnpackMarkFile::Unpacking unpacking(&marks, {archive, job.folder, job.size, job.md5, ""});
  bool installed = false;
  try {
    installed = UnpackAndSave(window, job, backend, progress, archive);
  } catch (...) {
    unpacking.Finished();
    throw;
  }
  unpacking.Finished();
  return installed;
}

void InstallSteps(LauncherWindow& window, const InstallJob& job, InstallBackend& backend, const RetryPauses& pauses) {
  const ClientArchiveKind kind = ClientArchiveKindOf(job.url);
  const std::wstring archive = ClientArchivePath(backend.LauncherFolder(), kind);

  UpdaterProgress progress;
  progress.phase = UpdaterPhase::Downloading;
  progress.file = "WoW Client";
  progress.bytes_total = job.size;
  window.SetProgress(progress);
  window.SetState(LauncherState::Updating);
  window.Repaint();
  if (!EnoughSpace(window, backend, ParentFolderOf(archive), job.size)) return;

  DownloadRate rate(0);
  auto sample = [&](std::int64_t received, std::int64_t total) {
    rate.Sample(progress, received, total, job.size);
    window.SetProgress(progress);
    window.Repaint();
  };
  // The first try replaces what an earlier installation left; a retry keeps
  // what this one wrote.
  const DownloadResult result = DownloadWithRetries(
      "WoW Client", 0, [&](std::int64_t from) { return backend.Download(job.url, archive, from, sample); },
      [&] { return ResumeOffset(backend.FileSize(archive).value_or(0), job.size); }, pauses, {});
  if (!result.ok) {
    // The partial archive stays.
    window.ShowError(
        Widen(result.failure == DownloadFailure::DiskFull ? result.error : "Download failed: " + result.error));
    return;
  }
  // The archive holds the Wow.exe that PLAY will start: when the manifest pins
  // it (a signed manifest always does), bytes that differ are never unpacked.
  if (!job.md5.empty()) {
    const FileCheckResult check = backend.Check(archive, job.size, job.md5);
    if (check != FileOk) {
      Log::Error(L"Client archive does not match the manifest (" +
                 std::wstring(check == FileSizeMismatch ? L"size" : L"MD5") + L" mismatch); deleted");
      backend.RemoveFile(archive);
      window.ShowError(L"Download failed: the client archive does not match the manifest.");
      return;
    }
  }

  if (UnpackClient(window, job, backend, progress)) {
    StartUpdateRun(window, window.CurrentManifest(), OnUpdaterProgressQuiet);
  }
}

// The client unpack a kill cut short, done again from the kept archive; true
// once the client folder is saved.
bool ResumeSteps(LauncherWindow& window, const UnpackMark& mark, InstallBackend& backend) {
  Log::Warn(L"Unpacking " + mark.archive + L" again: the last unpack did not finish");
  UpdaterProgress progress;
  progress.bytes_total = mark.size;
  window.SetState(LauncherState::Updating);
  // Checked when it was downloaded; only its size here, as nothing else writes launcher_cache.
  if (backend.Check(mark.archive, mark.size, "") != FileOk) {
    Log::Warn(L"The kept client archive is gone or changed: not unpacked again");
    UnpackMarkFile(backend, UnpackMarksPath(backend.LauncherFolder())).Clear(mark);
    return false;
  }
  // The archive's path in place of the address: its ending tells the kind just the same.
  return UnpackClient(window, {mark.folder, mark.archive, mark.size, mark.md5}, backend, progress);
}

// Runs `steps` on the worker thread as every installation does: COM, and every exception shown.
template <typename Steps>
bool Guarded(LauncherWindow& window, InstallBackend& backend, Steps&& steps) {
  bool done = false;
  backend.EnterThread();
  try {
    done = steps();
  } catch (const std::exception& e) {
    Log::Error(L"InstallWow exception: " + Widen(e.what()));
    window.ShowError(L"Install failed unexpectedly.");
  } catch (...) {
    Log::Error(L"InstallWow exception: unknown");
    window.ShowError(L"Install failed unexpectedly.");
  }
  backend.LeaveThread();
  return done;
}

}  // namespace

bool ResumeClientInstall(LauncherWindow& window, std::shared_ptr<InstallBackend> backend, bool client_found) {
  const std::wstring launcher = backend->LauncherFolder();
  std::optional<UnpackMark> pending;
  for (const UnpackMark& mark : UnpackMarkFile(*backend, UnpackMarksPath(launcher)).Unfinished()) {
    for (const ClientArchiveKind kind : {ClientArchiveKind::Zip, ClientArchiveKind::Rar}) {
      if (SamePath(mark.archive, ClientArchivePath(launcher, kind))) pending = mark;
    }
  }
  if (!pending || !window.BeginClientInstall()) return false;
  try {
    std::thread([&window, mark = *pending, backend = std::move(backend), client_found] {
      const bool installed = Guarded(window, *backend, [&] { return ResumeSteps(window, mark, *backend); });
      window.EndClientInstall();
      ManifestThread(window, installed || client_found);
    }).detach();
  } catch (...) {
    window.EndClientInstall();
    throw;
  }
  return true;
}

void InstallWow(LauncherWindow& window, const InstallJob& job, InstallBackend& backend, const RetryPauses& pauses) {
  Guarded(window, backend, [&] { return InstallSteps(window, job, backend, pauses), true; });
}

void StartClientInstall(LauncherWindow& window, const std::function<std::optional<std::wstring>()>& pick_folder,
                        std::shared_ptr<InstallBackend> backend) {
  // Two workers must never write the same archive.
  if (!window.BeginClientInstall()) return;
  try {
    const Manifest manifest = window.CurrentManifest();
    if (manifest.wow_client.url.empty()) {
      window.EndClientInstall();
      window.ShowError(L"No client download available in manifest.");
      return;
    }
    const std::optional<std::wstring> folder = pick_folder();
    if (!folder) {
      window.EndClientInstall();
      return;
    }
    InstallJob job{*folder, Widen(manifest.wow_client.url), manifest.wow_client.size, manifest.wow_client.md5};
    std::thread([&window, job = std::move(job), backend = std::move(backend)] {
      InstallWow(window, job, *backend);
      window.EndClientInstall();
    }).detach();
  } catch (...) {
    window.EndClientInstall();
    throw;
  }
}
