// What the launcher's background work shares with the window: the state the
// screen is drawn from, and the services the controller asks of the window.
//
// Workers write these fields while the user-interface thread reads them, so
// every field but `state` sits behind one mutex that is only ever held to copy
// a value in or out: no one calls out, logs or waits while holding it, so a
// worker never waits on the user-interface thread for longer than a copy.
// `state` is a single atomic value.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/launcher_state.h"
#include "data/manifest.h"
#include "data/news.h"
#include "net/manifest_fetch.h"
#include "update/updater.h"
#include "update/updater_progress.h"

// The news as the window holds it: replaced whole, never changed in place,
// so a reader's copy of the pointer stays valid while a worker swaps it.
using NewsList = std::shared_ptr<const std::vector<NewsItem>>;

class LauncherWindow {
 public:
  // What the screen is drawn from, copied under one lock so the parts agree.
  struct View {
    LauncherState state;
    std::wstring status_text;
    UpdaterProgress progress;
    NewsList news;  // never null
  };
  LauncherWindow() = default;
  virtual ~LauncherWindow() = default;
  LauncherWindow(const LauncherWindow&) = delete;
  LauncherWindow& operator=(const LauncherWindow&) = delete;

  LauncherState State() const { return state_.load(); }
  // Sets the state and logs "State: <name>" when it changed; for Error with
  // the status text in brackets, so set the text first.
  void SetState(LauncherState state);

  std::wstring StatusText() const;
  void SetStatusText(std::wstring text);
  // The status text, then Error, then a repaint: how every failure is shown.
  void ShowError(std::wstring text);

  UpdaterProgress Progress() const;
  void SetProgress(const UpdaterProgress& progress);

  Manifest CurrentManifest() const;
  void SetManifest(Manifest manifest);

  std::shared_ptr<Updater> CurrentUpdater() const;
  // Replaces the current updater (without cancelling the old one).
  void SetUpdater(std::shared_ptr<Updater> updater);
  // Cancels the current updater, if any, and drops the window's hold on it.
  void CancelUpdater();

  std::wstring WowDir() const;
  void SetWowDir(std::wstring wow_dir);

  NewsList News() const;
  void SetNews(std::vector<NewsItem> news);

  View Snapshot() const;

  // At most one client installation at a time, from the click that starts it
  // to the end of its worker: true when this call claimed the slot.
  bool BeginClientInstall() { return !install_busy_.exchange(true); }
  void EndClientInstall() { install_busy_ = false; }
  bool ClientInstallBusy() const { return install_busy_.load(); }

  // --- Services the controller needs; the Windows window and tests supply them.
  // Fetches and reads the manifest document (checking its signature when the
  // build has a realm key); anything but Loaded leaves `manifest` as it was
  // and puts the reason in `error`.
  virtual ManifestFetch FetchManifest(Manifest& manifest, std::string& error) = 0;
  // True only when a newer launcher was fetched and its replacement started.
  virtual bool SelfUpdate(const Manifest& manifest, std::string& error) = 0;
  virtual std::shared_ptr<Updater> MakeUpdater(const std::wstring& wow_dir) = 0;
  // With the manifest loaded and no client: carries on a client download that a
  // kill cut short (ContinueClientDownload in app/client_install.h).
  virtual void ContinueClientInstall(const Manifest& /*manifest*/) {}
  // Where update runs keep their record of verified files; empty: no record.
  virtual std::wstring VerifiedRecordPath() const { return std::wstring(); }
  // Asks for the screen to be drawn again; callable from any thread.
  virtual void Repaint() = 0;
  // Asks the window to close (posted, never waited for).
  virtual void PostClose() = 0;
  // Tells the window that new news is in place (posted, never waited for).
  virtual void NewsLoaded() { Repaint(); }
  // Called by SetState, on the thread that set it, when the state changed.
  virtual void StateEntered(LauncherState /*state*/) {}

 private:
  std::atomic<LauncherState> state_{LauncherState::Connecting};
  std::atomic<bool> install_busy_{false};
  mutable std::mutex mutex_;
  std::wstring status_text_;
  UpdaterProgress progress_;
  Manifest manifest_;
  std::shared_ptr<Updater> updater_;
  std::wstring wow_dir_;
  NewsList news_ = std::make_shared<const std::vector<NewsItem>>();
};
