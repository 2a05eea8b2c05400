// The game side: addons, the client install, and the realm lines of Config.wtf.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <map>
#include <set>
#include <thread>
#include <tuple>

#include "app/client_install.h"
#include "fake_window.h"
#include "game/addons.h"
#include "game/client_install.h"
#include "game/realm_config.h"
#include "net/update_server.h"
#include "update/unpack_marks.h"

namespace {

GameFile Addon(const std::string& path, const std::string& extract_to = "Interface/AddOns") {
  GameFile f;
  f.path = path;
  f.extract_to = extract_to;
  return f;
}

TEST(Addons, NamesAndSafety) {
  EXPECT_EQ((std::vector<std::string>{AddonName("Interface/AddOns/Foo.zip"), AddonName("Bar.ZIP"), AddonName(".zip"),
                                      AddonName("x/..")}),
            (std::vector<std::string>{"Foo", "Bar.ZIP", ".zip", ".."}));
  for (const char* bad : {"", ".", "..", "a\\b", "a:b", "x?", "CON", "nul.txt", "dots.", "a\x01"})
    EXPECT_FALSE(IsSafeAddonName(bad)) << bad;
  EXPECT_TRUE(IsSafeAddonName("Ostrel UI-2.1"));
}

TEST(Addons, RuleAndPresence) {
  Manifest m;
  m.game_files = {Addon("Data/patch.MPQ", ""), Addon("Interface/AddOns/Req.zip"), Addon("../Escape.zip")};
  std::vector<std::wstring> probed;
  const auto entries = ListAddons(m, L"C:\\WoW", [&](const std::wstring& p) {
    probed.push_back(p);
    return true;
  });
  ASSERT_EQ(entries.size(), 2u);  // extract_to alone decides
  EXPECT_TRUE(entries[0].name == "Req" && entries[0].installed);
  EXPECT_FALSE(entries[1].installed);  // an unsafe path is never probed
  EXPECT_EQ(probed, std::vector<std::wstring>{L"C:\\WoW\\Interface\\AddOns\\Req"});
}

// Unticked installed addons are removed with their archive, unless the name is unsafe; a
// folder that cannot be removed keeps going; the ticked unsafe path goes to the update run, which refuses it.
TEST(Addons, UnsafeNamesAreNeverRemovedNorUnsafeArchivesDeleted) {
  std::vector<AddonEntry> entries;
  for (const char* path : {"Interface/AddOns/Old.zip", "Interface/AddOns/...zip", "Interface/AddOns/Stuck.zip"})
    entries.push_back({AddonName(path), true, Addon(path)});
  entries.push_back({"New", false, Addon("../../New.zip")});
  std::vector<std::wstring> removed, deleted;
  AddonFileOps ops{[&](const std::wstring& f) {
                     removed.push_back(f);
                     return f.find(L"Stuck") == std::wstring::npos;
                   },
                   [&](const std::wstring& f) { deleted.push_back(f); }};
  EXPECT_EQ(ApplyAddonChoices(L"C:\\W", entries, {false, false, false, true}, ops).size(), 1u);
  EXPECT_EQ(removed, (std::vector<std::wstring>{L"C:\\W\\Interface\\AddOns\\Old", L"C:\\W\\Interface\\AddOns\\Stuck"}));
  EXPECT_EQ(deleted,
            (std::vector<std::wstring>{L"C:\\W\\Interface\\AddOns\\Old.zip", L"C:\\W\\Interface\\AddOns\\...zip",
                                       L"C:\\W\\Interface\\AddOns\\Stuck.zip"}));
}

// The launcher folder is "L"; the disk is a set of paths, and the downloads' files those of
// `fetch` (which serves kServed). With `hold`, the first download waits for `release`.
class FakeInstall : public InstallBackend {
 public:
  struct Fetch : FakeUpdaterBackend {
    DownloadResult Download(const std::wstring& url, const std::wstring& path, std::int64_t offset,
                            const DownloadProgress& progress, const DownloadStop& stop) override {
      if (++downloads == 1 && hold) downloading.set_value(), released.wait();
      return FakeUpdaterBackend::Download(url, path, offset, progress, stop);
    }
    bool hold = false;
    std::atomic<int> downloads{0};
    std::promise<void> downloading, release;
    std::shared_future<void> released = release.get_future().share();
  };
  static inline const std::string kServed = "0123456789";
  FakeInstall() {
    for (const wchar_t* url : {L"http://h/c.zip", L"http://h/c.rar", L"http://h/client.zip"})
      fetch.server[url] = kServed;
  }

  std::wstring LauncherFolder() override { return L"L"; }
  FetchBackend& Fetching() override { return fetch; }
  std::optional<std::int64_t> FreeSpace(const std::wstring&) override { return free_space; }
  void CreateFolders(const std::wstring&) override {
    if (folders_fail) throw std::runtime_error("create_directories failed for X: denied");
  }
  bool Exists(const std::wstring& path) override { return files.count(path) > 0 || fetch.files.count(path) > 0; }
  std::vector<std::wstring> Subfolders(const std::wstring&) override { return {L"Docs", L"Client"}; }
  std::optional<std::uint32_t> Run(const std::wstring&) override { return std::nullopt; }  // cannot start
  FileCheckResult Check(const std::wstring&, std::int64_t, const std::string&) override { return check; }
  bool ExtractZip(const std::wstring&, const std::wstring&, std::string& error) override {
    marks_at_unpack = small[kMarks];
    return error = "truncated archive", zip_ok;
  }
  std::optional<std::string> ReadSmallFile(const std::wstring& path, std::size_t, bool& missing) override {
    missing = !small.count(path);
    return missing ? std::nullopt : std::optional<std::string>(small[path]);
  }
  bool ReplaceSmallFile(const std::wstring& path, const std::string& bytes) override {
    return small[path] = bytes, true;
  }
  std::optional<std::int64_t> UnpackedSize(const std::wstring&) override { return std::nullopt; }
  void RemoveFile(const std::wstring& path) override { files.erase(path), fetch.RemoveFile(path); }
  void SaveClientFolder(const std::wstring& wow_dir) override { saved = wow_dir; }

  bool folders_fail = false, zip_ok = true;
  std::optional<std::int64_t> free_space;
  FileCheckResult check = FileOk;
  Fetch fetch;
  std::set<std::wstring> files{L"L\\assets\\tools\\UnRAR.exe"};
  std::wstring saved;
  static inline const std::wstring kMarks = L"L\\launcher_cache\\unpacking.txt";
  std::map<std::wstring, std::string> small;
  std::string marks_at_unpack;
};

// Download failures, the missing RAR tool and its exit codes are covered under Wine.
// A damaged archive is deleted and never unpacked; other failures keep it.
TEST(ClientInstall, FailuresEndInError) {
  const std::string good = FakeUpdaterBackend::DigestOf(FakeInstall::kServed);
  // archive, unpacks, folders fail, its digest, status, archive left
  const std::tuple<const wchar_t*, bool, bool, std::string, const wchar_t*, bool> cases[] = {
      {L"http://h/c.zip", true, false, good, L"Not enough disk space: 65 MB needed, 63 MB free on L\\launcher_cache",
       false},
      {L"http://h/c.rar", true, false, good, L"Could not unpack wow_client.rar: Failed to launch UnRAR", true},
      {L"http://h/c.zip", false, false, good, L"Could not unpack wow_client.zip: truncated archive", true},
      {L"http://h/c.zip", true, true, good, L"Install failed unexpectedly.", true},
      {L"http://h/c.zip", true, false, std::string(32, 'f'),
       L"Download failed: the client archive does not match the manifest.", false},
  };
  for (const auto& [url, zip_ok, folders_fail, md5, status, archive_left] : cases) {
    FakeWindow w;
    w.SetWowDir(L"C:\\Old");
    FakeInstall backend;
    backend.zip_ok = zip_ok;
    backend.folders_fail = folders_fail;
    backend.free_space = std::int64_t{63} << 20;
    if (std::wstring(status).find(L"disk space") == std::wstring::npos) backend.free_space.reset();
    InstallWow(w, {L"D:\\WoW", url, 10, md5}, backend);
    EXPECT_EQ(w.State(), LauncherState::Error) << status;
    EXPECT_EQ(w.StatusText(), status);
    EXPECT_EQ(backend.fetch.files.size(), archive_left ? 1u : 0u) << status;
    EXPECT_TRUE(w.WowDir() == L"C:\\Old" && backend.saved.empty()) << status;
    EXPECT_EQ(w.Progress().bytes_total, 10);
    EXPECT_TRUE(ParseUnpackMarks(backend.small[FakeInstall::kMarks]).empty()) << status;  // a failure is shown instead
  }
}

// An installation a kill cut short carries on at the next start: an unpack from the kept
// archive at once, then the start goes on as the manifest thread's; a download once the
// manifest is there, when it still offers that package. The mark goes in every case.
TEST(ClientInstall, AnInstallCutShortCarriesOnAtTheNextStart) {
  const std::wstring archive = L"L\\launcher_cache\\wow_client.zip";
  const std::string md5 = FakeUpdaterBackend::DigestOf(FakeInstall::kServed);
  // archive kept whole, it unpacks, the manifest offers that package, the state the start ends in, the folder saved
  const std::tuple<bool, bool, bool, LauncherState, const wchar_t*> rows[] = {
      {true, true, true, LauncherState::Ready, L"D:\\WoW\\Client"},
      {true, false, true, LauncherState::Offline, L""},
      {false, true, true, LauncherState::Ready, L"D:\\WoW\\Client"},
      {false, true, false, LauncherState::NoInstall, L""},
  };
  for (const auto& [kept, unpacks, offered, state, saved] : rows) {
    FakeWindow w;
    auto backend = std::make_shared<FakeInstall>();
    EXPECT_FALSE(ResumeClientInstall(w, backend, true));  // nothing marked: the start goes on as ever
    backend->small[FakeInstall::kMarks] = UnpackMarksText({{archive, L"D:\\WoW", 10, md5, ""}});
    backend->files.insert(L"D:\\WoW\\Client\\Wow.exe");
    if (kept) backend->fetch.files[archive] = FakeInstall::kServed;
    backend->zip_ok = unpacks;
    if (state == LauncherState::Offline) w.fetch = ManifestFetch::Failed;
    EXPECT_EQ(ResumeClientInstall(w, backend, true), kept);
    if (!kept) {
      w.SetState(LauncherState::NoInstall);
      w.Repaint();
      Manifest m;
      m.wow_client = {"http://h/c.zip", 10, offered ? md5 : std::string(32, 'e'), ""};
      EXPECT_EQ(ContinueClientDownload(w, m, backend), offered);
    }
    ASSERT_TRUE(w.WaitFor(state)) << saved;
    while (w.ClientInstallBusy()) std::this_thread::yield();
    EXPECT_EQ(backend->saved, saved);
    EXPECT_EQ(backend->marks_at_unpack.empty(), !offered) << saved;
    EXPECT_TRUE(ParseUnpackMarks(backend->small[FakeInstall::kMarks]).empty()) << saved;
  }
}

TEST(ClientInstall, OneInstallAtATimeFromPickToUpdater) {
  FakeWindow w;
  w.SetState(LauncherState::NoInstall);
  auto backend = std::make_shared<FakeInstall>();
  int picks = 0;
  auto pick = [&]() -> std::optional<std::wstring> { return ++picks == 1 ? std::nullopt : std::optional(L"D:\\"); };

  StartClientInstall(w, pick, backend);  // no client package in the manifest
  EXPECT_EQ(w.StatusText(), L"No client download available in manifest.");
  Manifest m;
  m.wow_client.url = "http://h/client.zip";
  w.SetManifest(m);
  w.SetState(LauncherState::NoInstall);
  StartClientInstall(w, pick, backend);  // cancelled: nothing changes
  EXPECT_EQ(w.State(), LauncherState::NoInstall);

  backend->fetch.hold = true;
  backend->files.insert(L"D:\\Client\\Wow.exe");  // picked at a drive root
  StartClientInstall(w, pick, backend);
  ASSERT_EQ(backend->fetch.downloading.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  StartClientInstall(w, pick, backend);  // a second click while the first downloads: ignored
  EXPECT_EQ(picks, 2);
  backend->fetch.release.set_value();
  ASSERT_TRUE(w.WaitFor(LauncherState::Ready));  // the hand-over's update run, over an empty list
  EXPECT_EQ(backend->saved, L"D:\\Client");
  EXPECT_EQ(backend->fetch.downloads, 1);
  while (w.ClientInstallBusy()) std::this_thread::yield();
}

// The six lines as the client must end up with them, CR LF each.
std::string SixLines() {
  return "SET realmList \"" + UpdateServerHost() +
         "\"\r\nSET realmName \"Ostrelhold\"\r\nSET locale \"enUS\"\r\nSET accounttype \"LK\"\r\n"
         "SET readTOS \"1\"\r\nSET readEULA \"1\"\r\n";
}

// Other lines keep their order and bytes (a NUL included), old values of the six
// keys go, every line ends in CR LF, and a second rewrite changes nothing.
TEST(RealmConfig, RewriteKeepsThePlayersLinesAndReplacesTheSix) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"SET gxResolution \"1920x1080\"\nSET realmList \"old.example.com\"\nSET SoundVolume \"0.5\"\n"
       "SET realmName \"Elsewhere\"\nSET locale \"deDE\"\nSET accounttype \"TBC\"\nSET readTOS \"0\"\n"
       "SET readEULA \"0\"\nSET MusicVolume \"0.2\"\n",
       "SET gxResolution \"1920x1080\"\r\nSET SoundVolume \"0.5\"\r\nSET MusicVolume \"0.2\"\r\n"},
      // A last line without a line end is kept; empty lines stay; only a CR right before LF is a line end.
      {"SET a \"1\"\r\n\r\nSET b \"2\"", "SET a \"1\"\r\n\r\nSET b \"2\"\r\n"},
      {"a\r\r\nb\rc\n", "a\r\r\nb\rc\r\n"},
      {std::string("x\0y\n", 4), std::string("x\0y\r\n", 5)},
  };
  for (const auto& [old_content, kept] : cases) {
    const std::string once = RewriteRealmConfig(old_content);
    EXPECT_EQ(once, kept + SixLines()) << old_content;
    EXPECT_EQ(RewriteRealmConfig(once), once) << old_content;
  }
}

// Replaced: the six keys in any ASCII case and as prefixes. Kept: blanks before SET, a
// different key, a line shorter than every prefix, a key that only resembles one of the six.
TEST(RealmConfig, KeysMatchInAnyAsciiCaseAndAsPrefixes) {
  for (const std::string line :
       {"set REALMLIST \"x\"", "Set RealmName \"x\"", "SET LOCALE \"x\"", "sEt AcCoUnTtYpE \"x\"", "set readtos \"0\"",
        "SET READEULA \"0\"", "SET realmListbn \"x\"", "SET readEULA"})
    EXPECT_TRUE(IsRealmKeyLine(line)) << line;
  for (const std::string line : {" SET realmList \"x\"", "\tSET locale \"x\"", "SET realm", "SET", "",
                                 "SET realm List \"x\"", "SET accountName \"x\"", "SETlocale \"x\""})
    EXPECT_FALSE(IsRealmKeyLine(line)) << line;
  EXPECT_FALSE(StartsWithIgnoringCase("\xC1", "\xE1"));  // bytes above 0x7F are not folded like letters
  EXPECT_TRUE(StartsWithIgnoringCase("\xC1xyz", "\xC1X"));
}

}  // namespace
