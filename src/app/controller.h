// The background work that decides what the main screen shows: the manifest
// thread, the retry thread, and the handlers through which update runs move
// the launcher between its states.
#pragma once

#include "app/launcher_window.h"
#include "update/updater_progress.h"

// How a run uses the window's record of verified files: files unchanged since
// an earlier run found them matching are passed unread (Quick), every file is
// read and the record replaced (Full), or the record is left alone (None: runs
// over part of the manifest, such as addons, would otherwise replace it).
enum class RecordUse { Quick, Full, None };

// Body of the manifest thread, started once when the window is created. A
// manifest that fails its signature check is not used at all (no update, no
// self-update); with a client the launcher goes Offline with a status text
// that says so.
void ManifestThread(LauncherWindow& window, bool client_found);

// Body of the retry thread, started by the Retry button. A manifest that
// fails its signature check is not used here either: the launcher stays in
// Error ("Update server signature invalid.", the reason in the log), so the
// player can retry once off the network that tampered with it; the client,
// possibly half updated by the failed run, is not offered for play.
void RetryThread(LauncherWindow& window, RecordUse use = RecordUse::Quick);

// The Retry button, on the user-interface thread: cancels and drops the
// current run, clears the status text, shows Connecting and starts RetryThread.
void StartRetry(LauncherWindow& window);

using ProgressHandler = void (*)(LauncherWindow&, const UpdaterProgress&);

// Makes a new update run for the window's client folder, makes it the
// window's current one and starts it over `manifest`, reporting to `handler`.
void StartUpdateRun(LauncherWindow& window, const Manifest& manifest, ProgressHandler handler,
                    RecordUse use = RecordUse::Quick);

// "Check all files": only when PLAY could act or after a failed run (never
// during a run or while the game runs), a run over the whole manifest that
// reads every file; without a loaded manifest it is fetched first. False when
// it did not act.
bool StartFullCheck(LauncherWindow& window, bool game_running);

// Progress handlers given to update runs. They copy the report into the
// window, map its phase to the launcher's state and ask for a repaint.
void OnUpdaterProgress(LauncherWindow& window, const UpdaterProgress& report);       // logs
void OnUpdaterProgressQuiet(LauncherWindow& window, const UpdaterProgress& report);  // no log lines
void OnAddonProgress(LauncherWindow& window, const UpdaterProgress& report);         // addon completion line
