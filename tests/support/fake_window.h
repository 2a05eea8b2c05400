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
    ++fetches;
    if (server_down || rejected) {
      error = server_down ? "HTTP 0: Request failed" : "manifest signature invalid";
      return server_down ? ManifestFetch::Failed : ManifestFetch::Rejected;
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
    states.push_back(State());
    changed_.notify_all();
  }
  void PostClose() override {
    std::lock_guard<std::mutex> lock(mutex_);
    closed = true;
    changed_.notify_all();
  }

  // Waits until the state is `wanted` and no repaint has come for a moment.
  bool WaitFor(LauncherState wanted) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10),
                             [&] { return State() == wanted && !states.empty() && states.back() == wanted; });
  }
  std::vector<LauncherState> DistinctStates() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<LauncherState> out;
    for (auto s : states) {
      if (out.empty() || out.back() != s) out.push_back(s);
    }
    return out;
  }

  std::shared_ptr<FakeUpdaterBackend> backend = std::make_shared<FakeUpdaterBackend>();
  Manifest served;
  bool server_down = false;
  bool rejected = false;  // the fetched manifest fails its signature check
  bool fetch_throws = false;
  bool self_update_hands_over = false;
  int fetches = 0, self_updates = 0, repaints = 0;
  bool closed = false;
  std::vector<LauncherState> states;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
};
