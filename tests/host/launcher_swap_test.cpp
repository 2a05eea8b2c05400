// The launcher swap: a failure or a kill at each step, and what the start that
// follows finds and does.
#include "update/launcher_swap.h"

#include <gtest/gtest.h>

#include <map>
#include <tuple>

namespace {

const std::wstring kFolder = L"C:\\Ostrel Launcher";
const std::wstring kNames[] = {L"\\OstrelLauncher.exe", L"\\OstrelLauncher.previous.exe",
                               L"\\OstrelLauncher_update.exe"};
std::wstring PathOf(char role) { return kFolder + kNames[role == 'E' ? 0 : role == 'P' ? 1 : 2]; }
char RoleOf(const std::wstring& path) { return path == PathOf('E') ? 'E' : path == PathOf('P') ? 'P' : 'U'; }
struct Killed {};

// A launcher folder in memory, "E=old U=new": the role of each file and the
// build it holds. The call numbered `kill_at` of those that change something
// ends the process instead.
class FakeSwap : public SwapSystem {
 public:
  explicit FakeSwap(const std::string& folder) {
    for (size_t i = 0; i < folder.size(); i += 6) files[folder[i]] = folder.substr(i + 2, 3);
  }
  std::string Folder() const {
    std::string text;
    for (const auto& [role, build] : files) text += (text.empty() ? "" : " ") + std::string(1, role) + "=" + build;
    return text;
  }
  std::optional<std::string> ReadSmallFile(const std::wstring&, std::size_t, bool& missing) override {
    return (missing = memory.empty()) ? std::nullopt : std::optional<std::string>(memory);
  }
  bool ReplaceSmallFile(const std::wstring&, const std::string& bytes) override { return Step(), memory = bytes, true; }
  bool Exists(const std::wstring& path) override { return files.count(RoleOf(path)) > 0; }
  std::uint32_t Move(const std::wstring& from, const std::wstring& to) override {
    Step();
    if (refused == std::string{RoleOf(from), RoleOf(to)}) return refused.clear(), 5;  // once
    files[RoleOf(to)] = files.at(RoleOf(from));
    return files.erase(RoleOf(from)), 0;
  }
  std::uint32_t Remove(const std::wstring& path) override { return Step(), files.erase(RoleOf(path)) ? 0 : 2; }
  NewBuildWait StartAndWait(const std::wstring&, const std::string&, int) override { return Step(), wait; }

  std::map<char, std::string> files;
  std::string memory, refused;  // refused: "EP" when renaming E to P fails (once)
  NewBuildWait wait;
  int kill_at = 0, calls = 0;

 private:
  void Step() {
    if (++calls == kill_at) throw Killed{};
  }
};

// Starts the build that the file of `role` holds (old is 1.0.0, new 1.0.1).
LauncherFiles StartAs(FakeSwap& swap, char role, bool handed_over = false) {
  swap.kill_at = 0;
  const std::string version = swap.files.at(role) == "new" ? "1.0.1" : "1.0.0";
  return SetRightLauncherFiles(swap, kFolder, PathOf(role), version, handed_over);
}

// Calls: 1 E->P, 2 U->E, 3 start and wait, then the undo (4 P->E, ...). Then
// the player starts E (or P or U when E is gone): a launcher is always there
// under E, the previous build only beside a new build that has not run well.
TEST(LauncherSwap, EveryStepFailedOrCutShortLeavesALauncherThatStarts) {
  using End = NewBuildWait::End;
  // wait, refused move, kill_at, folder after, in the failure (null: handed over or killed), start, folder after
  const std::tuple<NewBuildWait, const char*, int, const char*, const char*, char, const char*> cases[] = {
      {{End::Reported}, "", 0, "E=new P=old", nullptr, 'E', "E=new P=old"},
      {{End::Exited, 1}, "", 0, "E=old", "the new build exited with code 1 before it reported", 'E', "E=old"},
      {{End::Silent}, "", 0, "E=old", "the new build did not report within 30 s (ended)", 'E', "E=old"},
      {{End::NotStarted, 193}, "", 0, "E=old", "new OstrelLauncher.exe failed (system error 193)", 'E', "E=old"},
      {{End::Reported}, "EP", 0, "E=old", "to OstrelLauncher.previous.exe failed (system error 5)", 'E', "E=old"},
      {{End::Reported}, "UE", 0, "E=old", "moving OstrelLauncher_update.exe to OstrelLauncher.exe", 'E', "E=old"},
      {{End::Exited, 3}, "PE", 0, "E=old", "exited with code 3", 'E', "E=old"},  // the new file still held
      {{End::Reported}, "", 2, "P=old U=new", nullptr, 'P', "E=old"},
      {{End::Reported}, "", 2, "P=old U=new", nullptr, 'U', "E=new P=old"},
      {{End::Exited, 1}, "", 4, "E=new P=old", nullptr, 'E', "E=new P=old"},
      {{End::Exited, 1}, "PE", 6, "P=old U=new", nullptr, 'P', "E=old"},  // killed while moving aside
  };
  for (const auto& [wait, refused, kill_at, after, failed, starts, after_start] : cases) {
    FakeSwap swap("E=old U=new");
    std::tie(swap.wait, swap.refused, swap.kill_at) = std::make_tuple(wait, refused, kill_at);
    std::string failure;
    bool handed_over = false;
    try {
      handed_over = SwapInNewBuild(swap, MakeSwapPaths(kFolder, PathOf('E')), "1.0.0", "1.0.1", failure);
    } catch (const Killed&) {
    }
    const std::string name = after + std::string(" after call ") + std::to_string(swap.calls);
    EXPECT_EQ(swap.Folder(), after) << name;
    EXPECT_EQ(handed_over, !failed && !kill_at) << name;
    EXPECT_NE(failure.find(failed ? failed : ""), std::string::npos) << name << ": " << failure;
    EXPECT_EQ(IsRefusedVersion(ParseSwapMemory(swap.memory), "1.0.1"), failed != nullptr) << name;
    EXPECT_EQ(StartAs(swap, starts).launcher, PathOf('E')) << name;
    EXPECT_EQ(swap.Folder(), after_start) << name;
  }
}

// The new build keeps P through the run the old build handed over to (which
// may still run from it) and until a start after one that reached Ready.
TEST(LauncherSwap, AStartFindsWhichBuildItIsAndWhatIsLeftOver) {
  // folder, start, handed over, ran well, folder after, may self-update
  const std::tuple<const char*, char, bool, const char*, const char*, bool> cases[] = {
      {"E=old U=new", 'E', false, "", "E=old", true},
      {"E=new P=old", 'E', true, "1.0.1", "E=new P=old", false},
      {"E=new P=old", 'E', false, "1.0.0", "E=new P=old", true},
      {"E=new P=old", 'E', false, "1.0.1", "E=new", true},
      {"E=new P=old", 'P', false, "", "E=old", true},  // the player chose the previous build
      {"E=old U=new", 'U', false, "", "E=old U=new", false},
  };
  for (const auto& [folder, starts, handed_over, ran_well, after, may_self_update] : cases) {
    FakeSwap swap(folder);
    swap.memory = SwapMemoryText({"", ran_well});
    EXPECT_EQ(StartAs(swap, starts, handed_over).may_self_update, may_self_update) << folder << " " << starts;
    EXPECT_EQ(swap.Folder(), after) << folder << " " << starts;
  }
}

}  // namespace
