#include "app/controller.h"

#include <gtest/gtest.h>

#include <thread>
#include <utility>

#include "fake_window.h"

namespace {

using S = LauncherState;

// A window whose client folder holds one correct file, served a manifest naming it.
void OneCorrectFile(FakeWindow& w, const std::string& launcher_version) {
  GameFile f;
  f.path = "Wow.exe";
  f.size = 3;
  f.md5 = FakeUpdaterBackend::DigestOf("exe");
  w.served.game_files = {f};
  w.served.launcher_version = launcher_version;
  w.backend->files[ClientTargetPath(L"C:\\WoW", "Wow.exe")] = "exe";
  w.SetWowDir(L"C:\\WoW");
}

// No server, no trusted secure connection, or a manifest that is not the
// realm's: nothing of it is used, no self-update.
TEST(Controller, NoServerOrRejectedManifestWithAndWithoutClient) {
  for (const auto& [fetch, reason] :
       {std::make_pair(ManifestFetch::Failed, L"Update server unreachable."),
        std::make_pair(ManifestFetch::TlsFailed, L"Update server certificate not trusted."),
        std::make_pair(ManifestFetch::Rejected, L"Update server signature invalid.")}) {
    for (const bool client : {true, false}) {
      FakeWindow w;
      w.fetch = fetch;
      OneCorrectFile(w, "9.9.9");
      if (!client) w.SetState(S::NoInstall);
      ManifestThread(w, client);
      EXPECT_EQ(w.State(), client ? S::Offline : S::NoInstall);
      if (client) {
        EXPECT_EQ(w.StatusText(), std::wstring(reason) + L" Playing in offline mode.");
      }
      EXPECT_EQ(w.self_updates, 0);
      EXPECT_EQ(w.CurrentUpdater(), nullptr);
      EXPECT_TRUE(w.CurrentManifest().launcher_version.empty());
    }
  }
  FakeWindow throwing;
  throwing.fetch_throws = true;
  ManifestThread(throwing, true);
  EXPECT_EQ(throwing.State(), S::Offline);
}

// A newer launcher is asked for only when the manifest names a version; a
// hand-over to it closes the window instead of updating the client.
TEST(Controller, CorrectFilesGoVerifyingReadyUnlessTheLauncherHandsOver) {
  for (const auto& [version, hands_over] :
       {std::make_pair("", false), std::make_pair("1.0.0", false), std::make_pair("9.9.9", true)}) {
    FakeWindow w;
    OneCorrectFile(w, version);
    w.self_update_hands_over = hands_over;
    ManifestThread(w, true);
    EXPECT_EQ(w.self_updates, *version ? 1 : 0) << version;
    EXPECT_EQ(w.closed, hands_over);
    if (hands_over) {
      EXPECT_EQ(w.CurrentUpdater(), nullptr);
      continue;
    }
    ASSERT_TRUE(w.WaitFor(S::Ready));
    EXPECT_EQ(w.States(), (std::vector<S>{S::Verifying, S::Ready}));
    EXPECT_EQ(w.CurrentManifest().game_files.size(), 1u);
  }
}

TEST(Controller, UpdaterErrorThenRetryWithTheServerGoneRejectedAndBack) {
  FakeWindow w;
  w.SetWowDir(L"C:\\WoW");
  GameFile missing;
  missing.path = "Data/missing.MPQ";
  missing.cdn_url = "http://cdn/missing";
  w.served.game_files = {missing};  // not served: the download fails
  ManifestThread(w, true);
  ASSERT_TRUE(w.WaitFor(S::Error));
  EXPECT_EQ(w.StatusText(), L"HTTP 404");

  for (const auto& [fetch, status] :
       {std::make_pair(ManifestFetch::Failed, L"Cannot reach update server."),
        std::make_pair(ManifestFetch::TlsFailed, L"Update server certificate not trusted."),
        std::make_pair(ManifestFetch::Rejected, L"Update server signature invalid.")}) {
    w.fetch = fetch;
    StartRetry(w);
    EXPECT_EQ(w.CurrentUpdater(), nullptr);
    ASSERT_TRUE(w.WaitFor(S::Error));
    EXPECT_EQ(w.StatusText(), status);
  }
  w.fetch = ManifestFetch::Loaded;
  w.backend->server[L"http://cdn/missing"] = "data";
  StartRetry(w);
  ASSERT_TRUE(w.WaitFor(S::Ready));
}

// Readers on this thread while update runs write from theirs: under the
// thread sanitizer this proves the hand-over is race-free.
TEST(Controller, UserInterfaceReadsWhileRunsWrite) {
  FakeWindow w;
  w.SetWowDir(L"C:\\WoW");
  for (int i = 0; i < 20; ++i) {
    GameFile f;
    f.path = "f" + std::to_string(i);
    f.cdn_url = "http://cdn/" + f.path;
    w.backend->server[Widen(f.cdn_url)] = std::string(64, 'x');
    w.served.game_files.push_back(f);
  }
  ManifestThread(w, true);
  size_t seen = 0;
  do {  // at least once: on a busy machine the run may be over before this thread looks
    seen += w.Progress().file.size() + w.StatusText().size() + w.CurrentManifest().game_files.size();
    seen += w.CurrentUpdater() != nullptr;
    std::this_thread::yield();
  } while (w.State() != S::Ready);
  ASSERT_TRUE(w.WaitFor(S::Ready));  // the run's last repaint is over
  EXPECT_GT(seen, 0u);
}

}  // namespace
