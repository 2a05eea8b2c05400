#include <windows.h>

#include <exception>
#include <string>

#include "base/text.h"
#include "data/manifest.h"
#include "log/log.h"
#include "net/file_check.h"
#include "net/file_digest.h"
#include "net/http_client.h"
#include "net/update_server.h"
#include "update/launcher_swap.h"
#include "update/self_update.h"

namespace {

// The build arrives over plain HTTP and is about to be run: it must be the
// one the manifest names, by every digest the manifest gives. Sets `error`
// when it is not.
bool DownloadMatchesDigests(const std::wstring& path, const std::string& md5, const std::string& sha256,
                            std::string& error) {
  FileDigests actual;
  try {
    actual = DigestFile(path, !md5.empty(), !sha256.empty());
  } catch (const std::exception& e) {
    error = std::string("Self-update download cannot be checked: ") + e.what();
    return false;
  }
  if (!md5.empty() && !SameMd5(actual.md5, md5)) {
    error = "Self-update download rejected: MD5 " + actual.md5 + " does not match launcher_md5 " + md5;
    return false;
  }
  if (!sha256.empty() && !SameDigest(actual.sha256, sha256)) {
    error = "Self-update download rejected: SHA-256 " + actual.sha256 + " does not match launcher_sha256 " + sha256;
    return false;
  }
  return true;
}

}  // namespace

bool SelfUpdate(const Manifest& manifest, const std::wstring& launcher_url, const std::wstring& launcher_md5,
                std::string& error, const std::wstring& launcher_folder, const std::wstring& launcher_file) {
  if (!IsNewerLauncherVersion(manifest.launcher_version, kLauncherVersion)) return false;
  if (launcher_url.empty()) return false;
  SwapSystem& system = SystemSwap();
  const SwapPaths paths = MakeSwapPaths(launcher_folder, launcher_file);
  if (IsRefusedVersion(ReadSwapMemory(system, paths), manifest.launcher_version)) {
    Log::Info(L"Self-update to " + Widen(manifest.launcher_version) +
              L" not tried: it failed to start here before (a higher version will be)");
    return false;
  }

  Log::Info(L"Self-update available: server=" + Widen(manifest.launcher_version) + L" local=" +
            Widen(kLauncherVersion));

  Log::Info(L"Downloading update...");
  const DownloadResult download = HttpClient::DownloadFile(launcher_url, paths.download, 0, DownloadProgress());
  if (!download.ok) {
    error = "Self-update download failed: " + download.error;
    Log::Error(Widen(error));
    return false;
  }
  if (!DownloadMatchesDigests(paths.download, NarrowLowBytes(launcher_md5), manifest.launcher_sha256, error)) {
    Log::Error(Widen(error));
    DeleteFileW(paths.download.c_str());
    return false;
  }
  Log::Info(L"Update downloaded, starting the new build");

  std::string failure;
  if (SwapInNewBuild(system, paths, kLauncherVersion, manifest.launcher_version, failure)) return true;
  error = "Launcher update to " + manifest.launcher_version + " failed to start: " + failure;
  return false;
}
