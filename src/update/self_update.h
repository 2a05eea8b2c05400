// Replacing the launcher with a newer build that the manifest names: the new
// build is downloaded beside the running one, checked against the manifest's
// digests and swapped in (update/launcher_swap.h), the old build kept until the
// new one has shown that it runs.
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

// Downloads the new build and swaps it in when the manifest's launcher_version
// is newer than kLauncherVersion and not one that failed to start here before
// (unless the manifest names a higher one). True means the new build is up and
// the caller must close the launcher now; false means carry on with this build
// (no update, or it failed; `error` then says why). When `launcher_md5` or the
// manifest's launcher_sha256 is not empty the download must match it, or it
// is deleted and false returned. `launcher_file`: the running program's file
// (LauncherFiles::launcher) in `launcher_folder`.
// Windows only.
bool SelfUpdate(const Manifest& manifest, const std::wstring& launcher_url, const std::wstring& launcher_md5,
                std::string& error, const std::wstring& launcher_folder, const std::wstring& launcher_file);
