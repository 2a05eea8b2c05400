#include "app/client_install.h"

#include <exception>
#include <thread>

#include "app/controller.h"
#include "base/text.h"
#include "game/client_install.h"
#include "log/log.h"
#include "update/download_rate.h"
#include "update/download_retry.h"
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

  progress.phase = UpdaterPhase::Extracting;
  progress.file = "WoW Client";
  window.SetProgress(progress);
  window.Repaint();
  backend.CreateFolders(job.folder);
  if (kind == ClientArchiveKind::Zip) {
    const auto unpacked = backend.UnpackedSize(archive);
    if (unpacked && !EnoughSpace(window, backend, job.folder, *unpacked)) return;
  }
  Log::Info(L"Extracting WoW client to: " + job.folder);
  std::string error;
  bool extracted;
  if (kind == ClientArchiveKind::Rar) {
    if (!backend.Exists(UnrarToolPath(backend.LauncherFolder()))) {
      window.ShowError(L"UnRAR.exe not found in assets\\tools\\. Reinstall the launcher.");
      return;
    }
    extracted = Unrar(archive, job.folder, backend, error);
  } else {
    extracted = backend.ExtractZip(archive, job.folder, error);
  }
  if (!extracted) {
    window.ShowError(L"Could not unpack " + archive.substr(archive.rfind(L'\\') + 1) + L": " + Widen(error));
    return;
  }

  const std::wstring wow_dir = FindClientFolder(
      job.folder, [&](const std::wstring& path) { return backend.Exists(path); },
      [&](const std::wstring& folder) { return backend.Subfolders(folder); });
  window.SetWowDir(wow_dir);
  backend.SaveClientFolder(wow_dir);
  Log::Info(L"WoW client installed at: " + wow_dir);
  backend.RemoveFile(archive);
  StartUpdateRun(window, window.CurrentManifest(), OnUpdaterProgressQuiet);
}

}  // namespace

void InstallWow(LauncherWindow& window, const InstallJob& job, InstallBackend& backend, const RetryPauses& pauses) {
  backend.EnterThread();
  try {
    InstallSteps(window, job, backend, pauses);
  } catch (const std::exception& e) {
    Log::Error(L"InstallWow exception: " + Widen(e.what()));
    window.ShowError(L"Install failed unexpectedly.");
  } catch (...) {
    Log::Error(L"InstallWow exception: unknown");
    window.ShowError(L"Install failed unexpectedly.");
  }
  backend.LeaveThread();
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
