#include "app/controller.h"

#include <exception>
#include <thread>

#include "base/text.h"
#include "log/log.h"

namespace {

enum class Voice { Logged, Quiet, Addon };

void HandleProgress(LauncherWindow& window, const UpdaterProgress& report, Voice voice) {
  window.SetProgress(report);
  switch (report.phase) {
    case UpdaterPhase::Verifying: window.SetState(LauncherState::Verifying); break;
    case UpdaterPhase::Downloading:
    case UpdaterPhase::Extracting: window.SetState(LauncherState::Updating); break;
    case UpdaterPhase::Done:
      if (voice == Voice::Logged) Log::Info(L"Updater complete");
      if (voice == Voice::Addon) Log::Info(L"Addon install complete");
      window.SetState(LauncherState::Ready);
      break;
    case UpdaterPhase::Error:
      if (voice == Voice::Logged) Log::Error(L"Updater error: " + Widen(report.error));
      window.SetStatusText(Widen(report.error));
      window.SetState(LauncherState::Error);
      break;
    default: break;  // Idle and unknown phases change nothing
  }
  window.Repaint();
}

void Guarded(LauncherWindow& window, const UpdaterProgress& report, Voice voice) {
  // No exception may return into the update run.
  try {
    HandleProgress(window, report, voice);
  } catch (const std::exception& e) {
    if (voice == Voice::Logged) Log::Error(L"Exception in updater callback: " + Widen(e.what()));
  } catch (...) {
    if (voice == Voice::Logged) Log::Error(L"Exception in updater callback: unknown");
  }
}

// Without a client the screen stays NoInstall: there is nothing to play offline.
void FallBackToOffline(LauncherWindow& window, bool client_found) {
  if (client_found) window.SetState(LauncherState::Offline);
  window.Repaint();
}

// Fetches the manifest; a loaded one becomes the window's, a rejected one is
// logged as an ERROR (it is not the realm's, so nothing of it is used).
ManifestFetch FetchInto(LauncherWindow& window, Manifest& manifest, std::string& error) {
  const ManifestFetch fetched = window.FetchManifest(manifest, error);
  if (fetched == ManifestFetch::Loaded) window.SetManifest(manifest);
  if (fetched == ManifestFetch::Rejected) Log::Error(L"Manifest rejected: " + Widen(error));
  return fetched;
}

// Why no manifest could be used, in the player's words. A TLS failure's text
// comes from the connection (certificate refused, or no secure connection).
std::wstring FetchFailureText(ManifestFetch fetched, const std::string& error, const wchar_t* unreached) {
  switch (fetched) {
    case ManifestFetch::Rejected: return L"Update server signature invalid.";
    case ManifestFetch::TlsFailed: return Widen(error);
    default: return unreached;
  }
}

}  // namespace

void StartUpdateRun(LauncherWindow& window, const Manifest& manifest, ProgressHandler handler, RecordUse use) {
  auto updater = window.MakeUpdater(window.WowDir());
  const std::wstring record = window.VerifiedRecordPath();
  if (use != RecordUse::None && !record.empty()) updater->UseRecord(record, use == RecordUse::Full);
  window.SetUpdater(updater);
  updater->Start(manifest, [&window, handler](const UpdaterProgress& report) { handler(window, report); });
}

void OnUpdaterProgress(LauncherWindow& window, const UpdaterProgress& report) {
  Guarded(window, report, Voice::Logged);
}

void OnUpdaterProgressQuiet(LauncherWindow& window, const UpdaterProgress& report) {
  Guarded(window, report, Voice::Quiet);
}

void OnAddonProgress(LauncherWindow& window, const UpdaterProgress& report) { Guarded(window, report, Voice::Addon); }

void ManifestThread(LauncherWindow& window, bool client_found) {
  try {
    Log::Info(L"Manifest thread started");
    Manifest manifest;
    std::string error;
    const ManifestFetch fetched = FetchInto(window, manifest, error);
    if (fetched == ManifestFetch::Loaded) {
      if (!manifest.launcher_version.empty()) {
        std::string update_error;
        if (window.SelfUpdate(manifest, update_error)) {
          Log::Info(L"Self-update triggered — exiting for replacement");
          window.PostClose();
          return;
        }
      }
      if (!client_found) {
        Log::Info(L"Manifest loaded — waiting for client install");
        window.ContinueClientInstall(manifest);
        return;
      }
      Log::Info(L"Manifest loaded OK, starting updater");
      StartUpdateRun(window, manifest, OnUpdaterProgress);
      return;
    }
    // A manifest that is not the realm's is not used at all: the client stays
    // as it is and can be played as it is.
    const bool rejected = fetched == ManifestFetch::Rejected;
    if (!rejected) Log::Warn(L"Manifest fetch failed: " + Widen(error));
    if (client_found) {
      window.SetStatusText(FetchFailureText(fetched, error, L"Update server unreachable.") +
                           L" Playing in offline mode.");
      window.SetState(LauncherState::Offline);
    }
    window.Repaint();
  } catch (const std::exception& e) {
    Log::Error(L"Exception in manifest thread: " + Widen(e.what()));
    FallBackToOffline(window, client_found);
  } catch (...) {
    Log::Error(L"Unknown exception in manifest thread");
    FallBackToOffline(window, client_found);
  }
}

void RetryThread(LauncherWindow& window, RecordUse use) {
  try {
    Log::Info(L"Retry: fetching manifest");
    Manifest manifest;
    std::string error;
    const ManifestFetch fetched = FetchInto(window, manifest, error);
    if (fetched == ManifestFetch::Loaded) {
      StartUpdateRun(window, manifest, OnUpdaterProgressQuiet, use);
      return;
    }
    window.ShowError(FetchFailureText(fetched, error, L"Cannot reach update server."));
  } catch (const std::exception& e) {
    Log::Error(L"Retry exception: " + Widen(e.what()));
    window.ShowError(L"Retry failed.");
  } catch (...) {
    Log::Error(L"Retry exception: unknown");
    window.ShowError(L"Retry failed.");
  }
}

void StartRetry(LauncherWindow& window) {
  window.CancelUpdater();
  window.SetStatusText(L"");
  window.SetState(LauncherState::Connecting);
  window.Repaint();
  std::thread([&window] { RetryThread(window); }).detach();
}

bool StartFullCheck(LauncherWindow& window, bool game_running) {
  const LauncherState state = window.State();
  if (game_running || !(IsPlayable(state) || state == LauncherState::Error)) return false;
  Log::Info(L"Full check requested");
  window.CancelUpdater();  // a failed run may still be on its way out
  window.SetStatusText(L"");
  window.SetState(LauncherState::Verifying);
  window.Repaint();
  const Manifest manifest = window.CurrentManifest();
  if (manifest.game_files.empty()) {
    std::thread([&window] { RetryThread(window, RecordUse::Full); }).detach();
  } else {
    StartUpdateRun(window, manifest, OnUpdaterProgress, RecordUse::Full);
  }
  return true;
}
