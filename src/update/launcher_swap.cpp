#include "update/launcher_swap.h"

#include <cstdlib>
#include <string_view>

#include "base/text.h"
#include "log/log.h"
#include "update/self_update.h"
#include "update/unpack_marks.h"

namespace {

constexpr const wchar_t* kPreviousName = L"OstrelLauncher.previous.exe";
constexpr const wchar_t* kDownloadName = L"OstrelLauncher_update.exe";
constexpr const wchar_t* kLauncherName = L"OstrelLauncher.exe";
constexpr std::string_view kFailedKey = "failed ";
constexpr std::string_view kRanWellKey = "ran_well ";

std::wstring NameOf(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

std::wstring SystemError(std::uint32_t code) { return L" (system error " + std::to_wstring(code) + L")"; }

void WriteMemory(SwapSystem& system, const SwapPaths& paths, const SwapMemory& memory) {
  if (!system.ReplaceSmallFile(paths.memory, SwapMemoryText(memory))) {
    Log::Warn(L"Launcher update: cannot write " + paths.memory);
  }
}

// Moves `from` to `to`; on failure `failure` says which move and why.
bool Move(SwapSystem& system, const std::wstring& from, const std::wstring& to, const wchar_t* verb,
          std::wstring& failure) {
  const std::uint32_t code = system.Move(from, to);
  if (code == 0) return true;
  failure = std::wstring(verb) + L" " + NameOf(from) + L" to " + NameOf(to) + L" failed" + SystemError(code);
  Log::Error(L"Launcher update: " + failure);
  return false;
}

// P back over the new build: one rename, so a kill leaves one build or the
// other under E. Where E cannot be replaced (its image still held), the new
// build is renamed away first: a running program's file can still be renamed.
void PutPreviousBack(SwapSystem& system, const SwapPaths& paths) {
  std::wstring ignored;
  if (Move(system, paths.previous, paths.launcher, L"moving back", ignored)) return;
  if (Move(system, paths.launcher, paths.download, L"moving aside", ignored) &&
      Move(system, paths.previous, paths.launcher, L"moving back", ignored)) {
    system.Remove(paths.download);  // may still be held; the next start removes it
  }
}

std::wstring WaitFailure(const NewBuildWait& wait, const SwapPaths& paths) {
  switch (wait.end) {
    case NewBuildWait::End::Exited:
      return L"the new build exited with code " + std::to_wstring(wait.code) + L" before it reported";
    case NewBuildWait::End::Silent:
      return L"the new build did not report within " + std::to_wstring(kReportSeconds) + L" s (ended)";
    default: return L"starting the new " + NameOf(paths.launcher) + L" failed" + SystemError(wait.code);
  }
}

}  // namespace

SwapPaths MakeSwapPaths(const std::wstring& folder, const std::wstring& launcher) {
  return {launcher, folder + L"\\" + kPreviousName, folder + L"\\" + kDownloadName,
          folder + L"\\launcher_cache\\launcher_update.txt"};
}

std::string SwapMemoryText(const SwapMemory& memory) {
  std::string text;
  if (!memory.failed.empty()) text += std::string(kFailedKey) + memory.failed + "\r\n";
  if (!memory.ran_well.empty()) text += std::string(kRanWellKey) + memory.ran_well + "\r\n";
  return text;
}

SwapMemory ParseSwapMemory(const std::string& text) {
  SwapMemory memory;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind(kFailedKey, 0) == 0) memory.failed = line.substr(kFailedKey.size());
    if (line.rfind(kRanWellKey, 0) == 0) memory.ran_well = line.substr(kRanWellKey.size());
    start = end + 1;
  }
  return memory;
}

SwapMemory ReadSwapMemory(SwapSystem& system, const SwapPaths& paths) {
  bool missing = false;
  const auto text = system.ReadSmallFile(paths.memory, 4096, missing);
  return text ? ParseSwapMemory(*text) : SwapMemory();
}

bool IsRefusedVersion(const SwapMemory& memory, const std::string& offered) {
  return ParseLauncherVersion(memory.failed) && !IsNewerLauncherVersion(offered, memory.failed);
}

bool SwapInNewBuild(SwapSystem& system, const SwapPaths& paths, const std::string& old_version,
                    const std::string& new_version, std::string& failure) {
  std::wstring why;
  if (Move(system, paths.launcher, paths.previous, L"renaming", why)) {
    if (Move(system, paths.download, paths.launcher, L"moving", why)) {
      const NewBuildWait wait = system.StartAndWait(paths.launcher, old_version, kReportSeconds);
      if (wait.end == NewBuildWait::End::Reported) return true;
      why = WaitFailure(wait, paths);
      Log::Error(L"Launcher update: " + why);
      PutPreviousBack(system, paths);
    } else {
      std::wstring ignored;
      Move(system, paths.previous, paths.launcher, L"moving back", ignored);
    }
  }
  system.Remove(paths.download);  // nothing when it was moved
  failure = NarrowLowBytes(why);
  Log::Error(L"Launcher update to " + Widen(new_version) + L" failed to start; staying on " + Widen(old_version));
  SwapMemory memory = ReadSwapMemory(system, paths);
  memory.failed = new_version;
  WriteMemory(system, paths, memory);
  return false;
}

LauncherFiles SetRightLauncherFiles(SwapSystem& system, const std::wstring& folder, const std::wstring& running,
                                    const std::string& version, bool handed_over) {
  const bool as_previous = SamePath(running, folder + L"\\" + kPreviousName);
  const bool as_download = SamePath(running, folder + L"\\" + kDownloadName);
  const SwapPaths paths = MakeSwapPaths(folder, as_previous || as_download ? folder + L"\\" + kLauncherName : running);
  LauncherFiles files{running, !handed_over};
  if (as_download && system.Exists(paths.launcher)) {
    Log::Warn(L"Launcher files: running as " + NameOf(running) + L" beside " + NameOf(paths.launcher) +
              L": nothing moved, no self-update");
    files.may_self_update = false;
    return files;
  }
  if (as_previous || as_download) {
    if (const std::uint32_t code = system.Move(running, paths.launcher)) {
      Log::Warn(L"Launcher files: moving " + NameOf(running) + L" to " + NameOf(paths.launcher) + L" failed" +
                SystemError(code) + L"; no self-update");
      files.may_self_update = false;
      return files;
    }
    Log::Info(L"Launcher files: this build moved from " + NameOf(running) + L" to " + NameOf(paths.launcher));
    files.launcher = paths.launcher;
  }
  if (system.Exists(paths.download) && system.Remove(paths.download) == 0) {
    Log::Info(L"Launcher files: removed a leftover " + NameOf(paths.download));
  }
  if (!handed_over && system.Exists(paths.previous) && ReadSwapMemory(system, paths).ran_well == version) {
    if (const std::uint32_t code = system.Remove(paths.previous)) {
      Log::Warn(L"Launcher files: removing " + NameOf(paths.previous) + L" failed" + SystemError(code));
    } else {
      Log::Info(L"Launcher files: removed " + NameOf(paths.previous) + L" (this build has run well)");
    }
  }
  return files;
}

void NoteRanWell(SwapSystem& system, const SwapPaths& paths, const std::string& version) {
  if (!system.Exists(paths.previous)) return;
  SwapMemory memory = ReadSwapMemory(system, paths);
  if (memory.ran_well == version) return;
  memory.ran_well = version;
  WriteMemory(system, paths, memory);
}

std::wstring HandOverArguments(const std::string& old_version, const std::wstring& up_event,
                               std::uint32_t old_process) {
  return L"--updated-from " + Widen(old_version) + L" --up-event " + up_event + L" --old-process " +
         std::to_wstring(old_process);
}

HandOver ParseHandOver(const std::vector<std::wstring>& arguments) {
  HandOver hand_over;
  for (size_t i = 0; i + 1 < arguments.size(); ++i) {
    if (arguments[i] == L"--updated-from")
      hand_over.updated_from = NarrowLowBytes(arguments[++i]);
    else if (arguments[i] == L"--up-event")
      hand_over.up_event = arguments[++i];
    else if (arguments[i] == L"--old-process")
      hand_over.old_process = static_cast<std::uint32_t>(std::wcstoul(arguments[++i].c_str(), nullptr, 10));
  }
  return hand_over;
}
