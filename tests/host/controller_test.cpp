#include "app/controller.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "fake_updater_backend.h"

namespace {

using namespace std::chrono_literals;

// A window without a screen: records what the controller asks of it.
class FakeWindow : public LauncherWindow {
 public:
  bool FetchManifest(Manifest& manifest, std::string& error) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++fetches;
    if (server_down) {
      error = "HTTP 0: Request failed";
      return false;
    }
    if (fetch_throws) throw std::runtime_error("boom");
    manifest = served;
    return true;
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
    return changed_.wait_for(lock, 10s,
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
  bool fetch_throws = false;
  bool self_update_hands_over = false;
  int fetches = 0, self_updates = 0, repaints = 0;
  bool closed = false;
  std::vector<LauncherState> states;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
};

Manifest OneCorrectFile(FakeWindow& w) {
  Manifest m;
  GameFile f;
  f.path = "Wow.exe";
  f.size = 3;
  f.md5 = FakeUpdaterBackend::DigestOf("exe");
  m.game_files = {f};
  w.backend->files[ClientTargetPath(L"C:\\WoW", "Wow.exe")] = "exe";
  return m;
}

TEST(Controller, NoServerWithAndWithoutClient) {
  FakeWindow with_client;
  with_client.server_down = true;
  ManifestThread(with_client, true);
  EXPECT_EQ(with_client.State(), LauncherState::Offline);

  FakeWindow without_client;
  without_client.server_down = true;
  without_client.SetState(LauncherState::NoInstall);
  ManifestThread(without_client, false);
  EXPECT_EQ(without_client.State(), LauncherState::NoInstall);
  EXPECT_GE(without_client.repaints, 1);

  FakeWindow throwing;
  throwing.fetch_throws = true;
  ManifestThread(throwing, true);
  EXPECT_EQ(throwing.State(), LauncherState::Offline);
}

TEST(Controller, AllFilesCorrectGoesConnectingVerifyingReady) {
  FakeWindow w;
  w.SetWowDir(L"C:\\WoW");
  w.served = OneCorrectFile(w);
  w.served.launcher_version = "1.0.0";
  ManifestThread(w, true);
  ASSERT_TRUE(w.WaitFor(LauncherState::Ready));
  EXPECT_EQ(w.DistinctStates(), (std::vector<LauncherState>{LauncherState::Verifying, LauncherState::Ready}));
  EXPECT_EQ(w.self_updates, 1);
  EXPECT_EQ(w.CurrentManifest().game_files.size(), 1u);
  EXPECT_EQ(w.Progress().phase, UpdaterPhase::Done);
}

TEST(Controller, EmptyVersionNeverSelfUpdatesAndAHandOverCloses) {
  FakeWindow w;
  w.SetWowDir(L"C:\\WoW");
  w.served = OneCorrectFile(w);
  ManifestThread(w, true);
  ASSERT_TRUE(w.WaitFor(LauncherState::Ready));
  EXPECT_EQ(w.self_updates, 0);

  FakeWindow updating;
  updating.served.launcher_version = "9.9.9";
  updating.self_update_hands_over = true;
  ManifestThread(updating, true);
  EXPECT_TRUE(updating.closed);
  EXPECT_EQ(updating.CurrentUpdater(), nullptr);
}

TEST(Controller, UpdaterErrorThenRetryWithTheServerGone) {
  FakeWindow w;
  w.SetWowDir(L"C:\\WoW");
  GameFile missing;
  missing.path = "Data/missing.MPQ";
  missing.cdn_url = "http://cdn/missing";
  w.served.game_files = {missing};  // not served: the download fails
  ManifestThread(w, true);
  ASSERT_TRUE(w.WaitFor(LauncherState::Error));
  EXPECT_EQ(w.StatusText(), L"HTTP 404");

  w.server_down = true;
  StartRetry(w);
  EXPECT_EQ(w.CurrentUpdater(), nullptr);
  ASSERT_TRUE(w.WaitFor(LauncherState::Error));
  EXPECT_EQ(w.StatusText(), L"Cannot reach update server.");

  // Back online: the retry starts a quiet run that ends in Ready.
  w.server_down = false;
  w.backend->server[L"http://cdn/missing"] = "data";
  StartRetry(w);
  ASSERT_TRUE(w.WaitFor(LauncherState::Ready));
}

TEST(Controller, HandlersMapPhases) {
  FakeWindow w;
  UpdaterProgress p;
  p.phase = UpdaterPhase::Extracting;
  OnAddonProgress(w, p);
  EXPECT_EQ(w.State(), LauncherState::Updating);
  p.phase = static_cast<UpdaterPhase>(9);
  OnUpdaterProgressQuiet(w, p);
  EXPECT_EQ(w.State(), LauncherState::Updating);
  p.phase = UpdaterPhase::Error;
  p.error = "Zip extraction failed: x";
  OnUpdaterProgressQuiet(w, p);
  EXPECT_EQ(w.State(), LauncherState::Error);
  EXPECT_EQ(w.StatusText(), L"Zip extraction failed: x");
  p.phase = UpdaterPhase::Done;
  OnAddonProgress(w, p);
  EXPECT_EQ(w.State(), LauncherState::Ready);
}

// Readers on this thread while update runs write from theirs: under the
// thread sanitizer this proves the hand-over is race-free.
TEST(Controller, UserInterfaceReadsWhileRunsWrite) {
  FakeWindow w;
  w.SetWowDir(L"C:\\WoW");
  Manifest m;
  for (int i = 0; i < 20; ++i) {
    GameFile f;
    f.path = "f" + std::to_string(i);
    f.cdn_url = "http://cdn/" + f.path;
    f.size = 64;
    w.backend->server[Widen(f.cdn_url)] = std::string(64, 'x');
    m.game_files.push_back(f);
  }
  w.served = m;
  ManifestThread(w, true);
  size_t seen = 0;
  do {  // at least once: on a busy machine the run may be over before this thread looks
    seen += w.Progress().file.size() + w.StatusText().size() + w.CurrentManifest().game_files.size();
    if (auto u = w.CurrentUpdater()) seen += 1;
    std::this_thread::yield();
  } while (w.State() != LauncherState::Ready);
  ASSERT_TRUE(w.WaitFor(LauncherState::Ready));  // the run's last repaint is over
  EXPECT_GT(seen, 0u);
  EXPECT_EQ(w.Progress().phase, UpdaterPhase::Done);
}

}  // namespace
