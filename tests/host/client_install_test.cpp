#include "app/client_install.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <set>
#include <thread>

#include "fake_window.h"
#include "game/client_install.h"

namespace {

// The launcher folder is "L"; files are a set of paths.
class FakeInstall : public InstallBackend {
 public:
  std::wstring LauncherFolder() override { return L"L"; }
  bool Download(const std::wstring&, const std::wstring& path, DownloadProgress progress, std::string& error) override {
    std::unique_lock<std::mutex> lock(mutex);
    ++downloads;
    changed.notify_all();
    changed.wait(lock, [&] { return !hold; });
    files.insert(path);  // what arrived stays, also on failure
    if (!download_error.empty()) {
      error = download_error;
      return false;
    }
    progress(5, -1);  // no length from the server: the declared size counts
    return true;
  }
  void CreateFolders(const std::wstring&) override {
    if (folders_fail) throw std::runtime_error("create_directories failed for X: denied");
  }
  bool Exists(const std::wstring& path) override { return files.count(path) > 0; }
  std::vector<std::wstring> Subfolders(const std::wstring&) override { return {L"Docs", L"Client"}; }
  std::optional<std::uint32_t> Run(const std::wstring& command) override {
    commands.push_back(command);
    return exit_code;
  }
  bool ExtractZip(const std::wstring&, const std::wstring&) override { return zip_ok; }
  void RemoveFile(const std::wstring& path) override { files.erase(path); }
  void SaveClientFolder(const std::wstring& wow_dir) override { saved = wow_dir; }

  std::mutex mutex;
  std::condition_variable changed;
  bool hold = false;
  int downloads = 0;
  std::set<std::wstring> files;
  std::string download_error;
  bool folders_fail = false, zip_ok = true;
  std::optional<std::uint32_t> exit_code = 0;
  std::vector<std::wstring> commands;
  std::wstring saved;
};

TEST(ClientInstall, ArchiveKindAndRarCommand) {
  EXPECT_EQ(ClientArchiveKindOf(L"http://h/c.rar"), ClientArchiveKind::Rar);
  for (const wchar_t* zip : {L"http://h/c.RAR", L"http://h/c.Rar", L"rar", L"", L"http://h/c.zip"}) {
    EXPECT_EQ(ClientArchiveKindOf(zip), ClientArchiveKind::Zip) << zip;
  }
  EXPECT_EQ(ClientArchivePath(L"C:\\L", ClientArchiveKind::Rar), L"C:\\L\\launcher_cache\\wow_client.rar");
  EXPECT_EQ(UnrarCommandLine(L"C:\\L\\UnRAR.exe", L"C:\\a b.rar", L"D:\\WoW"),
            L"\"C:\\L\\UnRAR.exe\" x -y \"C:\\a b.rar\" \"D:\\WoW\\\"");
}

TEST(ClientInstall, FailuresEndInErrorAndKeepTheArchive) {
  struct Case {
    const char* url;
    std::function<void(FakeInstall&)> setup;
    const wchar_t* status;
  };
  const std::vector<Case> cases = {
      {"http://h/c.zip", [](FakeInstall& b) { b.download_error = "HTTP 404"; }, L"Download failed: HTTP 404"},
      {"http://h/c.rar", [](FakeInstall&) {}, L"UnRAR.exe not found in assets\\tools\\. Reinstall the launcher."},
      {"http://h/c.rar",
       [](FakeInstall& b) {
         b.files.insert(L"L\\assets\\tools\\UnRAR.exe");
         b.exit_code = 1;
       },
       L"Extraction failed. Check launcher.log for details."},
      {"http://h/c.rar",
       [](FakeInstall& b) {
         b.files.insert(L"L\\assets\\tools\\UnRAR.exe");
         b.exit_code.reset();
       },
       L"Extraction failed. Check launcher.log for details."},
      {"http://h/c.zip", [](FakeInstall& b) { b.zip_ok = false; },
       L"Extraction failed. Check launcher.log for details."},
      {"http://h/c.zip", [](FakeInstall& b) { b.folders_fail = true; }, L"Install failed unexpectedly."},
  };
  for (const auto& c : cases) {
    FakeWindow w;
    w.SetWowDir(L"C:\\Old");
    FakeInstall backend;
    c.setup(backend);
    InstallWow(w, {L"D:\\WoW", Widen(c.url), 10}, backend);
    EXPECT_EQ(w.State(), LauncherState::Error) << c.url;
    EXPECT_EQ(w.StatusText(), c.status);
    const std::wstring archive =
        std::string(c.url).back() == 'r' ? L"L\\launcher_cache\\wow_client.rar" : L"L\\launcher_cache\\wow_client.zip";
    EXPECT_EQ(backend.files.count(archive), 1u) << c.url;
    EXPECT_EQ(w.WowDir(), L"C:\\Old");
    EXPECT_TRUE(backend.saved.empty());
    if (backend.exit_code == 1u) {
      EXPECT_EQ(backend.commands,
                (std::vector<std::wstring>{UnrarCommandLine(L"L\\assets\\tools\\UnRAR.exe",
                                                            L"L\\launcher_cache\\wow_client.rar", L"D:\\WoW")}));
    }
  }
}

TEST(ClientInstall, OneInstallAtATimeFromPickToUpdater) {
  FakeWindow w;
  w.SetState(LauncherState::NoInstall);
  auto backend = std::make_shared<FakeInstall>();
  int picks = 0;
  auto pick = [&]() -> std::optional<std::wstring> { return ++picks == 1 ? std::nullopt : std::optional(L"D:\\WoW"); };

  StartClientInstall(w, pick, backend);  // no client package in the manifest
  EXPECT_EQ(w.StatusText(), L"No client download available in manifest.");
  Manifest m;
  m.wow_client.url = "http://h/client.zip";
  m.wow_client.size = 10;
  w.SetManifest(m);
  w.SetState(LauncherState::NoInstall);
  StartClientInstall(w, pick, backend);  // cancelled: nothing changes
  EXPECT_EQ(w.State(), LauncherState::NoInstall);
  EXPECT_FALSE(w.ClientInstallBusy());

  backend->hold = true;
  backend->files.insert(L"D:\\WoW\\Client\\Wow.exe");
  StartClientInstall(w, pick, backend);
  {
    std::unique_lock<std::mutex> lock(backend->mutex);
    ASSERT_TRUE(backend->changed.wait_for(lock, std::chrono::seconds(10), [&] { return backend->downloads == 1; }));
  }
  StartClientInstall(w, pick, backend);  // a second click while the first downloads
  EXPECT_EQ(picks, 2);
  {
    std::lock_guard<std::mutex> lock(backend->mutex);
    backend->hold = false;
    backend->changed.notify_all();
  }
  ASSERT_TRUE(w.WaitFor(LauncherState::Ready));  // the hand-over's update run over an empty list
  EXPECT_EQ(w.WowDir(), L"D:\\WoW\\Client");
  EXPECT_EQ(backend->saved, L"D:\\WoW\\Client");
  EXPECT_EQ(backend->files.count(L"L\\launcher_cache\\wow_client.zip"), 0u);
  EXPECT_EQ(backend->downloads, 1);
  EXPECT_NE(w.CurrentUpdater(), nullptr);
  while (w.ClientInstallBusy()) std::this_thread::yield();
}

TEST(ClientInstall, DownloadProgressUsesTheDeclaredSizeWithoutALength) {
  FakeWindow w;
  FakeInstall backend;
  backend.zip_ok = false;
  InstallWow(w, {L"D:\\WoW", L"http://h/c.zip", 10}, backend);
  EXPECT_EQ(w.Progress().bytes_done, 5);
  EXPECT_EQ(w.Progress().bytes_total, 10);
  EXPECT_EQ(w.Progress().file, "WoW Client");
}

}  // namespace
