#include "app/client_install.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <set>
#include <thread>

#include "fake_window.h"
#include "game/client_install.h"

namespace {

// The launcher folder is "L"; the disk is a set of paths. Downloads wait while `hold` is set.
class FakeInstall : public InstallBackend {
 public:
  std::wstring LauncherFolder() override { return L"L"; }
  bool Download(const std::wstring&, const std::wstring& path, DownloadProgress progress, std::string&) override {
    std::unique_lock<std::mutex> lock(mutex);
    ++downloads;
    changed.notify_all();
    changed.wait(lock, [&] { return !hold; });
    files.insert(path);
    progress(5, -1);  // no length from the server: the declared size counts
    return true;
  }
  void CreateFolders(const std::wstring&) override {
    if (folders_fail) throw std::runtime_error("create_directories failed for X: denied");
  }
  bool Exists(const std::wstring& path) override { return files.count(path) > 0; }
  std::vector<std::wstring> Subfolders(const std::wstring&) override { return {L"Docs", L"Client"}; }
  std::optional<std::uint32_t> Run(const std::wstring&) override { return std::nullopt; }  // cannot start
  FileCheckResult Check(const std::wstring&, std::int64_t, const std::string&) override { return check; }
  bool ExtractZip(const std::wstring&, const std::wstring&) override { return zip_ok; }
  void RemoveFile(const std::wstring& path) override { files.erase(path); }
  void SaveClientFolder(const std::wstring& wow_dir) override { saved = wow_dir; }

  std::mutex mutex;
  std::condition_variable changed;
  bool hold = false, folders_fail = false, zip_ok = true;
  FileCheckResult check = FileOk;
  int downloads = 0;
  std::set<std::wstring> files{L"L\\assets\\tools\\UnRAR.exe"};
  std::wstring saved;
};

TEST(ClientInstall, ArchiveKindIsRarOnlyForLowerCaseRar) {
  EXPECT_EQ(ClientArchiveKindOf(L"http://h/c.rar"), ClientArchiveKind::Rar);
  for (const wchar_t* zip : {L"http://h/c.RAR", L"http://h/c.Rar", L"rar", L"", L"http://h/c.zip"}) {
    EXPECT_EQ(ClientArchiveKindOf(zip), ClientArchiveKind::Zip) << zip;
  }
}

// Download failures, the missing RAR tool and its exit codes are covered under Wine.
// A damaged archive is deleted and never unpacked; other failures keep it.
TEST(ClientInstall, FailuresEndInError) {
  const std::vector<std::tuple<const wchar_t*, std::function<void(FakeInstall&)>, const wchar_t*, size_t>> cases = {
      {L"http://h/c.rar", [](FakeInstall&) {}, L"Extraction failed. Check launcher.log for details.", 2},
      {L"http://h/c.zip", [](FakeInstall& b) { b.zip_ok = false; },
       L"Extraction failed. Check launcher.log for details.", 2},
      {L"http://h/c.zip", [](FakeInstall& b) { b.folders_fail = true; }, L"Install failed unexpectedly.", 2},
      {L"http://h/c.zip", [](FakeInstall& b) { b.check = FileMd5Mismatch; },
       L"Download failed: the client archive does not match the manifest.", 1},
  };
  for (const auto& [url, setup, status, files] : cases) {
    FakeWindow w;
    w.SetWowDir(L"C:\\Old");
    FakeInstall backend;
    setup(backend);
    InstallWow(w, {L"D:\\WoW", url, 10, "0123456789abcdef0123456789abcdef"}, backend);
    EXPECT_EQ(w.State(), LauncherState::Error) << url;
    EXPECT_EQ(w.StatusText(), status);
    EXPECT_EQ(backend.files.size(), files);  // the tool, and the archive unless it was damaged
    EXPECT_EQ(w.WowDir(), L"C:\\Old");
    EXPECT_TRUE(backend.saved.empty());
    EXPECT_EQ(w.Progress().bytes_done, 5);
    EXPECT_EQ(w.Progress().bytes_total, 10);
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
  w.SetManifest(m);
  w.SetState(LauncherState::NoInstall);
  StartClientInstall(w, pick, backend);  // cancelled: nothing changes
  EXPECT_EQ(w.State(), LauncherState::NoInstall);

  backend->hold = true;
  backend->files.insert(L"D:\\WoW\\Client\\Wow.exe");
  StartClientInstall(w, pick, backend);
  {
    std::unique_lock<std::mutex> lock(backend->mutex);
    ASSERT_TRUE(backend->changed.wait_for(lock, std::chrono::seconds(10), [&] { return backend->downloads == 1; }));
  }
  StartClientInstall(w, pick, backend);  // a second click while the first downloads: ignored
  EXPECT_EQ(picks, 2);
  {
    std::lock_guard<std::mutex> lock(backend->mutex);
    backend->hold = false;
    backend->changed.notify_all();
  }
  ASSERT_TRUE(w.WaitFor(LauncherState::Ready));  // the hand-over's update run, over an empty list
  EXPECT_EQ(backend->saved, L"D:\\WoW\\Client");
  EXPECT_EQ(backend->downloads, 1);
  while (w.ClientInstallBusy()) std::this_thread::yield();
}

}  // namespace
