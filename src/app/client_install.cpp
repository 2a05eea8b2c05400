#include "app/client_install.h"

#include <atomic>
#include <exception>
#include <optional>
#include <thread>

#include "app/controller.h"
#include "base/text.h"
#include "game/client_install.h"
#include "log/log.h"
#include "update/download_rate.h"
#include "update/file_fetch.h"
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

// Runs `steps` with the archive marked as being unpacked until the client
// folder is saved, so a kill on the way makes the next start carry on
// (ResumeClientInstall, ContinueClientDownload). A failure here clears the mark
// as well: it is shown, and the player starts over with DOWNLOAD CLIENT rather
// than meet it at every start.
template <typename Steps>
bool Marked(InstallBackend& backend, const UnpackMark& mark, Steps&& steps) {
  UnpackMarkFile marks(backend, UnpackMarksPath(backend.LauncherFolder()));
  UnpackMarkFile::Unpacking unpacking(&marks, mark);
  bool installed = false;
  try {
    installed = steps();
  } catch (...) {
    unpacking.Finished();
    throw;
  }
  unpacking.Finished();
  return installed;
}

bool UnpackClient(LauncherWindow& window, const InstallJob& job, InstallBackend& backend, UpdaterProgress& progress) {
  const std::wstring archive = ClientArchivePath(backend.LauncherFolder(), ClientArchiveKindOf(job.url));
  return Marked(backend, {archive, job.folder, job.size, job.md5, ""},
                [&] { return UnpackAndSave(window, job, backend, progress, archive); });
}

// The download's progress on the window: the archive's bytes, speed and time left.
class InstallReport : public FetchReport {
 public:
  InstallReport(LauncherWindow& window, UpdaterProgress& progress, std::int64_t size)
      : window_(window), progress_(progress), size_(size) {}
  void Begin(size_t, std::int64_t held) override {
    rate_.emplace(held);
    Bytes(0, held);
  }
  void Bytes(size_t, std::int64_t bytes) override {
    if (!rate_) rate_.emplace(0);
    rate_->Sample(progress_, bytes, size_, size_);
    window_.SetProgress(progress_);
    window_.Repaint();
  }
  void End(size_t) override {}

 private:
  LauncherWindow& window_;
  UpdaterProgress& progress_;
  const std::int64_t size_;
  std::optional<DownloadRate> rate_;
};

// Downloads the archive (a big one in pieces, resumed from its part) and
// checks it; false once a failure is shown.
bool DownloadClient(LauncherWindow& window, const InstallJob& job, InstallBackend& backend, UpdaterProgress& progress,
                    const FetchTuning& tuning) {
  const std::wstring archive = ClientArchivePath(backend.LauncherFolder(), ClientArchiveKindOf(job.url));
  // A whole archive is fetched from its first byte, replacing what an earlier
  // installation left; only a part file with its record is resumed.
  backend.RemoveFile(archive);
  const std::atomic<bool> never_cancelled{false};
  FileFetch fetch(backend.Fetching(), {{"WoW Client", job.url, archive, job.size, job.md5, ""}}, tuning,
                  never_cancelled);
  if (!EnoughSpace(window, backend, ParentFolderOf(archive), job.size - fetch.Held(0))) return false;
  InstallReport report(window, progress, job.size);
  FetchFailure failure;
  if (fetch.Run({0}, report, failure)) return true;
  if (failure.kind == DownloadFailure::None) {
    // The archive holds the Wow.exe that PLAY will start: when the manifest
    // pins it (a signed manifest always does), bytes that differ are never unpacked.
    Log::Error(L"Client archive does not match the manifest (" + Widen(failure.error) + L"); deleted");
    backend.RemoveFile(archive);
    window.ShowError(L"Download failed: the client archive does not match the manifest.");
  } else {
    // The partial archive stays.
    window.ShowError(
        Widen(failure.kind == DownloadFailure::DiskFull ? failure.error : "Download failed: " + failure.error));
  }
  return false;
}

void InstallSteps(LauncherWindow& window, const InstallJob& job, InstallBackend& backend, const FetchTuning& tuning) {
  const std::wstring archive = ClientArchivePath(backend.LauncherFolder(), ClientArchiveKindOf(job.url));
  UpdaterProgress progress;
  progress.phase = UpdaterPhase::Downloading;
  progress.file = "WoW Client";
  progress.bytes_total = job.size;
  window.SetProgress(progress);
  window.SetState(LauncherState::Updating);
  window.Repaint();
  const bool installed = Marked(backend, {archive, job.folder, job.size, job.md5, ""}, [&] {
    return DownloadClient(window, job, backend, progress, tuning) &&
           UnpackAndSave(window, job, backend, progress, archive);
  });
  if (installed) StartUpdateRun(window, window.CurrentManifest(), OnUpdaterProgressQuiet);
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

// The mark of an installation of the client that did not finish, if any.
std::optional<UnpackMark> PendingInstall(InstallBackend& backend) {
  const std::wstring launcher = backend.LauncherFolder();
  std::optional<UnpackMark> pending;
  for (const UnpackMark& mark : UnpackMarkFile(backend, UnpackMarksPath(launcher)).Unfinished()) {
    for (const ClientArchiveKind kind : {ClientArchiveKind::Zip, ClientArchiveKind::Rar}) {
      if (SamePath(mark.archive, ClientArchivePath(launcher, kind))) pending = mark;
    }
  }
  return pending;
}

// Runs InstallWow on a detached worker that frees the window's installation
// slot (claimed by the caller) at its end; one that cannot start frees it and throws.
void StartInstallWorker(LauncherWindow& window, InstallJob job, std::shared_ptr<InstallBackend> backend) {
  try {
    std::thread([&window, job = std::move(job), backend = std::move(backend)] {
      InstallWow(window, job, *backend);
      window.EndClientInstall();
    }).detach();
  } catch (...) {
    window.EndClientInstall();
    throw;
  }
}

}  // namespace

bool ResumeClientInstall(LauncherWindow& window, std::shared_ptr<InstallBackend> backend, bool client_found) {
  // An archive not whole is a download cut short: it goes on once the manifest is there.
  const std::optional<UnpackMark> pending = PendingInstall(*backend);
  if (!pending || backend->Fetching().FileSize(pending->archive) != pending->size || !window.BeginClientInstall()) {
    return false;
  }
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

bool ContinueClientDownload(LauncherWindow& window, const Manifest& manifest, std::shared_ptr<InstallBackend> backend) {
  const std::optional<UnpackMark> pending = PendingInstall(*backend);
  if (!pending) return false;
  const ClientPackage& package = manifest.wow_client;
  const std::wstring url = Widen(package.url);
  if (package.url.empty() || pending->size != package.size || pending->md5 != package.md5 ||
      !SamePath(pending->archive, ClientArchivePath(backend->LauncherFolder(), ClientArchiveKindOf(url)))) {
    Log::Warn(L"The client download cut short is not the one the manifest offers now: not continued");
    UnpackMarkFile(*backend, UnpackMarksPath(backend->LauncherFolder())).Clear(*pending);
    return false;
  }
  if (!window.BeginClientInstall()) return false;
  Log::Info(L"Continuing the client download cut short, into " + pending->folder);
  StartInstallWorker(window, {pending->folder, url, package.size, package.md5}, std::move(backend));
  return true;
}

void InstallWow(LauncherWindow& window, const InstallJob& job, InstallBackend& backend, const FetchTuning& tuning) {
  Guarded(window, backend, [&] { return InstallSteps(window, job, backend, tuning), true; });
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
    StartInstallWorker(window,
                       {*folder, Widen(manifest.wow_client.url), manifest.wow_client.size, manifest.wow_client.md5},
                       std::move(backend));
  } catch (...) {
    window.EndClientInstall();
    throw;
  }
}
