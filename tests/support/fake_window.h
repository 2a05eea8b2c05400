// A window without a screen for controller and installation tests: records
// what the background work asks of it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "app/launcher_window.h"
#include "fake_updater_backend.h"

class FakeWindow : public LauncherWindow {
 public:
  ManifestFetch FetchManifest(Manifest& manifest, std::string& error) override {
    std::lock_guard<std::mutex> lock(mutex_);
    switch (fetch) {
      case ManifestFetch::Failed: return error = "HTTP 0: Request failed", fetch;
      case ManifestFetch::Rejected: return error = "manifest signature invalid", fetch;
      case ManifestFetch::TlsFailed: return error = kCertificateNotTrusted, fetch;
      case ManifestFetch::Loaded: break;
    }
    if (fetch_throws) throw std::runtime_error("boom");
    manifest = served;
    return ManifestFetch::Loaded;
  }
  bool SelfUpdate(const Manifest&, std::string&) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++self_updates;
    return self_update_hands_over;
  }
  std::shared_ptr<Updater> MakeUpdater(const std::wstring& wow_dir) override {
    return std::make_shared<Updater>(wow_dir, backend);
  }
  void Repaint() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++repaints;
    if (states_.empty() || states_.back() != State()) states_.push_back(State());
    changed_.notify_all();
  }
  void PostClose() override {
    std::lock_guard<std::mutex> lock(mutex_);
    closed = true;
  }

  // Waits until the state is `wanted` and the last repaint showed it.
  bool WaitFor(LauncherState wanted) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10),
                             [&] { return State() == wanted && !states_.empty() && states_.back() == wanted; });
  }
  std::vector<LauncherState> States() {  // as repainted, each state once in a row
    std::lock_guard<std::mutex> lock(mutex_);
    return states_;
  }

  std::shared_ptr<FakeUpdaterBackend> backend = std::make_shared<FakeUpdaterBackend>();
  Manifest served;
  ManifestFetch fetch = ManifestFetch::Loaded;  // how every fetch ends
  bool fetch_throws = false, self_update_hands_over = false;
  int self_updates = 0, repaints = 0;
  bool closed = false;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<LauncherState> states_;
};
