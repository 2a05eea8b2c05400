// The launcher swap: what is where after each step, a failure or a kill at
// each step, and what the start that follows finds and does.
#include "update/launcher_swap.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>

namespace {

const std::wstring kFolder = L"C:\\Ostrel Launcher";
const std::map<char, std::wstring> kNames = {{'E', kFolder + L"\\OstrelLauncher.exe"},
                                             {'P', kFolder + L"\\OstrelLauncher.previous.exe"},
                                             {'U', kFolder + L"\\OstrelLauncher_update.exe"}};
struct Killed {};

// A launcher folder in memory, each file holding a build's name. The call
// numbered `kill_at` (of those that change something) ends the process first.
class FakeSwap : public SwapSystem {
 public:
  explicit FakeSwap(const std::string& folder) {
    for (size_t i = 0; i < folder.size(); i += 6) files[kNames.at(folder[i])] = folder.substr(i + 2, 3);
  }
  std::string Folder() const {  // "E=new P=old": E, P and U as they are
    std::string text;
    for (const auto& [role, path] : kNames) {
      if (files.count(path)) text += (text.empty() ? "" : " ") + std::string(1, role) + "=" + files.at(path);
    }
    return text;
  }
  std::optional<std::string> ReadSmallFile(const std::wstring& path, std::size_t, bool& missing) override {
    missing = !memory.count(path);
    return missing ? std::nullopt : std::optional<std::string>(memory[path]);
  }
  bool ReplaceSmallFile(const std::wstring& path, const std::string& bytes) override {
    Step();
    memory[path] = bytes;
    return true;
  }
  bool Exists(const std::wstring& path) override { return files.count(path) > 0; }
  std::uint32_t Move(const std::wstring& from, const std::wstring& to) override {
    Step();
    if (refused.count({from, to}) && refused[{from, to}]-- > 0) return refused_code;
    if (!files.count(from)) return 2;
    files[to] = files[from];
    files.erase(from);
    return 0;
  }
  std::uint32_t Remove(const std::wstring& path) override {
    Step();
    return files.erase(path) ? 0 : 2;
  }
  NewBuildWait StartAndWait(const std::wstring& program, const std::string& old_version, int seconds) override {
    Step();
    EXPECT_EQ(program, kNames.at('E'));
    EXPECT_EQ(old_version, "1.0.0");
    EXPECT_EQ(seconds, 30);
    return wait;
  }

  std::map<std::wstring, std::string> files, memory;
  std::map<std::pair<std::wstring, std::wstring>, int> refused;  // moves refused, how many times
  std::uint32_t refused_code = 5;
  NewBuildWait wait{NewBuildWait::End::Reported};
  int kill_at = 0;

 private:
  void Step() {
    if (++calls_ == kill_at) throw Killed{};
  }
  int calls_ = 0;
};

std::pair<std::wstring, std::wstring> MoveOf(const char* roles) { return {kNames.at(roles[0]), kNames.at(roles[1])}; }

// Starts the build that the file of `role` holds (old is 1.0.0, new 1.0.1).
LauncherFiles StartAs(FakeSwap& swap, char role, bool handed_over = false) {
  swap.kill_at = 0;
  const std::string version = swap.files.at(kNames.at(role)) == "new" ? "1.0.1" : "1.0.0";
  return SetRightLauncherFiles(swap, kFolder, kNames.at(role), version, handed_over);
}

// Calls: 1 E->P, 2 U->E, 3 start and wait, then the undo (4 P->E, ...). After
// each ending, the player starts the file named in `starts` (E, or P or U when
// E is gone): a launcher is always there under E, and
// the previous build stays only beside a new build that has not run well yet.
TEST(LauncherSwap, EveryStepFailedOrCutShortLeavesALauncherThatStarts) {
  using End = NewBuildWait::End;
  struct Case {
    const char* name;
    NewBuildWait wait;
    const char* refused_move;  // "EP": renaming E to P fails
    int kill_at;
    const char* after;    // the folder after the swap
    const char* failure;  // in the failure text; null: handed over (or killed)
    char starts;
    const char* after_start;
  };
  const Case cases[] = {
      {"reported", {End::Reported}, "", 0, "E=new P=old", nullptr, 'E', "E=new P=old"},
      {"exits", {End::Exited, 1}, "", 0, "E=old", "the new build exited with code 1 before it reported", 'E', "E=old"},
      {"silent", {End::Silent}, "", 0, "E=old", "the new build did not report within 30 s (ended)", 'E', "E=old"},
      {"cannot start",
       {End::NotStarted, 193},
       "",
       0,
       "E=old",
       "starting the new OstrelLauncher.exe failed (system error 193)",
       'E',
       "E=old"},
      {"rename refused",
       {End::Reported},
       "EP",
       0,
       "E=old",
       "renaming OstrelLauncher.exe to OstrelLauncher.previous.exe failed (system error 5)",
       'E',
       "E=old"},
      {"move refused",
       {End::Reported},
       "UE",
       0,
       "E=old",
       "moving OstrelLauncher_update.exe to OstrelLauncher.exe failed (system error 5)",
       'E',
       "E=old"},
      {"new build's file still held", {End::Exited, 3}, "PE", 0, "E=old", "exited with code 3", 'E', "E=old"},
      {"killed after 1, P started", {End::Reported}, "", 2, "P=old U=new", nullptr, 'P', "E=old"},
      {"killed after 1, U started", {End::Reported}, "", 2, "P=old U=new", nullptr, 'U', "E=new P=old"},
      {"killed after 2", {End::Reported}, "", 3, "E=new P=old", nullptr, 'E', "E=new P=old"},
      {"killed while waiting", {End::Exited, 1}, "", 4, "E=new P=old", nullptr, 'E', "E=new P=old"},
      {"killed while moving aside", {End::Exited, 1}, "PE", 6, "P=old U=new", nullptr, 'P', "E=old"},
  };
  for (const Case& c : cases) {
    FakeSwap swap("E=old U=new");
    swap.wait = c.wait;
    if (*c.refused_move) swap.refused[MoveOf(c.refused_move)] = 1;
    swap.kill_at = c.kill_at;
    std::string failure;
    bool handed_over = false;
    try {
      handed_over = SwapInNewBuild(swap, MakeSwapPaths(kFolder, kNames.at('E')), "1.0.0", "1.0.1", failure);
    } catch (const Killed&) {
    }
    EXPECT_EQ(swap.Folder(), c.after) << c.name;
    EXPECT_EQ(handed_over, c.failure == nullptr && c.kill_at == 0) << c.name;
    EXPECT_NE(failure.find(c.failure ? c.failure : ""), std::string::npos) << c.name << ": " << failure;
    EXPECT_EQ(IsRefusedVersion(ReadSwapMemory(swap, MakeSwapPaths(kFolder, L"")), "1.0.1"), c.failure != nullptr)
        << c.name;
    const LauncherFiles files = StartAs(swap, c.starts);
    EXPECT_EQ(swap.Folder(), c.after_start) << c.name;
    EXPECT_EQ(files.launcher, kNames.at('E')) << c.name;
    EXPECT_TRUE(files.may_self_update) << c.name;
  }
}

// A start of each file beside each leftover. The new build keeps P through
// the run the old build handed over to (the old one may still run from it)
// and until a start after one that reached Ready or Offline.
TEST(LauncherSwap, AStartFindsWhichBuildItIsAndWhatIsLeftOver) {
  struct Case {
    const char* folder;
    char starts;
    bool handed_over;
    const char* ran_well;
    const char* after;
    bool may_self_update;
  };
  const Case cases[] = {
      {"E=old U=new", 'E', false, "", "E=old", true},
      {"E=new P=old", 'E', true, "1.0.1", "E=new P=old", false},
      {"E=new P=old", 'E', false, "1.0.0", "E=new P=old", true},
      {"E=new P=old", 'E', false, "1.0.1", "E=new", true},
      {"E=new P=old", 'P', false, "", "E=old", true},  // the player chose the previous build
      {"E=old U=new", 'U', false, "", "E=old U=new", false},
  };
  for (const Case& c : cases) {
    FakeSwap swap(c.folder);
    if (*c.ran_well) swap.memory[MakeSwapPaths(kFolder, L"").memory] = SwapMemoryText({"", c.ran_well});
    const LauncherFiles files = StartAs(swap, c.starts, c.handed_over);
    EXPECT_EQ(swap.Folder(), c.after) << c.folder << " " << c.starts;
    EXPECT_EQ(files.may_self_update, c.may_self_update) << c.folder << " " << c.starts;
  }

  // The run that reached Ready notes it; the next start removes P.
  FakeSwap swap("E=new P=old");
  const SwapPaths paths = MakeSwapPaths(kFolder, kNames.at('E'));
  StartAs(swap, 'E', true);
  NoteRanWell(swap, paths, "1.0.1");
  StartAs(swap, 'E');
  EXPECT_EQ(swap.Folder(), "E=new");
}

TEST(LauncherSwap, AFailedVersionIsRefusedUntilAHigherOneAndTheHandOverReadsBack) {
  const SwapMemory memory = ParseSwapMemory(SwapMemoryText({"1.0.1", "1.0.0"}));
  EXPECT_EQ(memory.ran_well, "1.0.0");
  for (const auto& [offered, refused] :
       {std::make_pair("1.0.1", true), std::make_pair("1.0.0", true), std::make_pair("1.0.2", false)}) {
    EXPECT_EQ(IsRefusedVersion(memory, offered), refused) << offered;
  }
  EXPECT_FALSE(IsRefusedVersion(ParseSwapMemory("failed x\r\n"), "1.0.1"));  // no version: nothing refused

  std::vector<std::wstring> words;
  const std::wstring line = HandOverArguments("1.0.0", L"Local\\OstrelLauncherUp.42");
  for (size_t start = 0, end; start <= line.size(); start = end + 1) {
    end = std::min(line.find(L' ', start), line.size());
    words.push_back(line.substr(start, end - start));
  }
  const HandOver hand_over = ParseHandOver(words);
  EXPECT_EQ(hand_over.updated_from, "1.0.0");
  EXPECT_EQ(hand_over.up_event, L"Local\\OstrelLauncherUp.42");
}

}  // namespace
