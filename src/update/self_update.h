// Replacing the launcher with a newer build that the manifest names: the new
// build is downloaded beside the running one, and a small batch script, started
// detached, waits for the launcher to exit, moves the new build over the old
// executable and starts it.
#pragma once

#include <optional>
#include <string>

struct Manifest;

struct LauncherVersion {
  int major = 0;
  int minor = 0;
  int patch = 0;
};

// Reads "major.minor.patch" the way sscanf("%d.%d.%d") does: blanks before
// each number are skipped and text after the third number is ignored. Empty
// when fewer than three numbers can be read, or a number does not fit an int.
std::optional<LauncherVersion> ParseLauncherVersion(const std::string& text);

// True only when both texts are versions and `server` is greater (major, then
// minor, then patch, numerically: 1.10.0 is newer than 1.9.9).
bool IsNewerLauncherVersion(const std::string& server, const std::string& local);

// The script's exact bytes. It is started with two arguments: the downloaded
// build and the executable it replaces.
std::string SelfUpdateScript();

// The files of a self-update, all in the launcher folder.
struct SelfUpdatePaths {
  std::wstring executable;  // the running launcher
  std::wstring download;    // folder + "\OstrelLauncher_update.exe"
  std::wstring script;      // folder + "\launcher_update.bat"
};
SelfUpdatePaths MakeSelfUpdatePaths(const std::wstring& launcher_folder, const std::wstring& executable_path);

// "script" "download" "executable": each quoted, so folders with blanks work.
std::wstring SelfUpdateCommandLine(const SelfUpdatePaths& paths);

// Downloads and hands over to the script when the manifest's launcher_version
// is newer than kLauncherVersion. True means the script is running and the
// caller must close the launcher now; false means carry on with this build
// (no update, or it failed; `error` then says why). When `launcher_md5` or the
// manifest's launcher_sha256 is not empty the download must match it, or it
// is deleted and false returned.
// Windows only.
bool SelfUpdate(const Manifest& manifest, const std::wstring& launcher_url, const std::wstring& launcher_md5,
                std::string& error);

// The same for a launcher at `executable_path` in `launcher_folder` (tests
// run it against a stand-in launcher in a folder of their own).
bool SelfUpdate(const Manifest& manifest, const std::wstring& launcher_url, const std::wstring& launcher_md5,
                std::string& error, const std::wstring& launcher_folder, const std::wstring& executable_path);
