#include "app/controller.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "fake_updater_backend.h"
#include "fake_window.h"

namespace {

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

// No server, or a manifest that is not the realm's: nothing of it is used.
TEST(Controller, NoServerOrRejectedManifestWithAndWithoutClient) {
  for (const bool rejected : {false, true}) {
    FakeWindow with_client;
    with_client.server_down = !rejected;
    with_client.rejected = rejected;
    with_client.served.launcher_version = "9.9.9";
    ManifestThread(with_client, true);
    EXPECT_EQ(with_client.State(), LauncherState::Offline);
    EXPECT_EQ(with_client.StatusText(), rejected ? L"Update server signature invalid. Playing in offline mode."
                                                 : L"Update server unreachable. Playing in offline mode.");
    EXPECT_EQ(with_client.self_updates, 0);
    EXPECT_EQ(with_client.CurrentUpdater(), nullptr);
    EXPECT_TRUE(with_client.CurrentManifest().launcher_version.empty());

    FakeWindow without_client;
    without_client.server_down = !rejected;
    without_client.rejected = rejected;
    without_client.SetState(LauncherState::NoInstall);
    ManifestThread(without_client, false);
    EXPECT_EQ(without_client.State(), LauncherState::NoInstall);
    EXPECT_GE(without_client.repaints, 1);
  }

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

  w.server_down = false;
  w.rejected = true;
  StartRetry(w);
  ASSERT_TRUE(w.WaitFor(LauncherState::Error));
  EXPECT_EQ(w.StatusText(), L"Update server signature invalid.");
  EXPECT_EQ(w.CurrentUpdater(), nullptr);
  w.rejected = false;

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
