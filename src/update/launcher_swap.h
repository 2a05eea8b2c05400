// Swapping a new launcher build in so that a working launcher is always there.
//
// The running launcher, with the new build downloaded and checked as
// OstrelLauncher_update.exe (U):
//   1. renames its own file (E, normally OstrelLauncher.exe) to
//      OstrelLauncher.previous.exe (P): Windows lets a running program's file
//      be renamed, never deleted or replaced;
//   2. moves U to E;
//   3. starts E with "--updated-from <old version> --up-event <event>" and
//      waits up to kReportSeconds for it to report that it is up.
// The report is a named event the old build makes and the new one sets once
// its window is shown and its manifest thread started: an event dies with its
// processes, so a kill leaves nothing to clear, and the old build waits on it
// and on the new process together, so a build that exits ends the wait at once.
// A new build that exits, cannot be started or does not report (it is ended)
// is undone: P is moved back over E in one step. A failed rename or move
// undoes what was done before it. Every failure is logged with its step and
// system error code, then as ERROR "Launcher update to <new> failed to start;
// staying on <old>", and the new version is remembered so that it is never
// downloaded again until the manifest names a higher one.
//
// What is where after each step, and what a start of the file the player
// finds does (the start-up check, SetRightLauncherFiles):
//   after            E    P    U    start
//   download, check  old  -    new  E removes U
//   1. E -> P        -    old  new  P moves itself to E and removes U; U moves itself to E (keeps P)
//   2. U -> E        new  old  -    E keeps P (the new build has not run well yet)
//   3. started       new  old  -    the same
//   undone (P -> E)  old  -    -    nothing to do
//   reported         new  old  -    E keeps P until a start after one that reached Ready or Offline
// P started while E is there means the player chose the previous build (E may
// be one that does not start): P moves itself over E. U started beside E is a
// leftover run by hand: nothing is touched and it does not update itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "update/small_files.h"

// How long a new build has to report that it is up.
constexpr int kReportSeconds = 30;

struct SwapPaths {
  std::wstring launcher;  // the program's own name (E)
  std::wstring previous;  // folder + "\OstrelLauncher.previous.exe" (P)
  std::wstring download;  // folder + "\OstrelLauncher_update.exe" (U)
  std::wstring memory;    // folder + "\launcher_cache\launcher_update.txt"
};
SwapPaths MakeSwapPaths(const std::wstring& folder, const std::wstring& launcher);

// What the swap keeps across starts: "failed <version>" (the last version that
// failed to take over) and "ran_well <version>" (a version that reached Ready
// or Offline while P was kept), one line each, the file replaced whole.
struct SwapMemory {
  std::string failed;
  std::string ran_well;
};
std::string SwapMemoryText(const SwapMemory& memory);
SwapMemory ParseSwapMemory(const std::string& text);
// True when `offered` is not higher than the version that failed.
bool IsRefusedVersion(const SwapMemory& memory, const std::string& offered);

// How the wait for a started new build ended.
struct NewBuildWait {
  enum class End { Reported, Exited, Silent, NotStarted };
  End end = End::NotStarted;
  std::uint32_t code = 0;  // Exited: its exit code; NotStarted: the system error code
};

// The file and process calls of a swap. Windows: MakeSystemSwap (launcher_swap_win.cpp).
class SwapSystem : public SmallFiles {
 public:
  virtual bool Exists(const std::wstring& path) = 0;
  // Renames `from` to `to`, replacing a file of that name; 0 or the system error code.
  virtual std::uint32_t Move(const std::wstring& from, const std::wstring& to) = 0;
  virtual std::uint32_t Remove(const std::wstring& path) = 0;
  // Starts `program` handed over from `old_version` and waits up to `seconds`
  // for its report; a build still running without one is ended.
  virtual NewBuildWait StartAndWait(const std::wstring& program, const std::string& old_version, int seconds) = 0;
};

// The memory of `paths.memory`; empty when there is none or it cannot be read.
SwapMemory ReadSwapMemory(SwapSystem& system, const SwapPaths& paths);

// Steps 1 to 3 and the wait, with the new build checked at `paths.download`.
// True: the new build is up and this one must exit. False: this build is under
// its own name again (as far as the system allowed), and `failure` (logged)
// names the step that failed.
bool SwapInNewBuild(SwapSystem& system, const SwapPaths& paths, const std::string& old_version,
                    const std::string& new_version, std::string& failure);

// The start-up check: finds which of E, P and U the running program is
// (`running`, its file as it was started) and sets right what a swap cut short
// left (table above). `handed_over`: started by the old build, which may still
// be running from P.
struct LauncherFiles {
  std::wstring launcher;  // the running program's file now
  bool may_self_update = true;
};
LauncherFiles SetRightLauncherFiles(SwapSystem& system, const std::wstring& folder, const std::wstring& running,
                                    const std::string& version, bool handed_over);

// At Ready or Offline: notes, while P is kept, that `version` ran well.
void NoteRanWell(SwapSystem& system, const SwapPaths& paths, const std::string& version);

// The new build's command line after its program name, and what it reads back.
struct HandOver {
  std::string updated_from;       // the old build's version; empty: not handed over
  std::wstring up_event;          // the event to set once up
  std::uint32_t old_process = 0;  // the old build's process id, which writes the log too until it ends
};
std::wstring HandOverArguments(const std::string& old_version, const std::wstring& up_event, std::uint32_t old_process);
HandOver ParseHandOver(const std::vector<std::wstring>& arguments);

// Windows (launcher_swap_win.cpp): the system's calls, and the new build's
// report that it is up (false when the old build's event is gone).
SwapSystem& SystemSwap();
bool ReportUp(const std::wstring& up_event);
