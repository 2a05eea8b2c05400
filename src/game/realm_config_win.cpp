#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "game/client_folder.h"
#include "game/realm_config.h"

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// The whole file, or nothing when it is missing or cannot be opened: the
// client then simply gets a file with the launcher's six lines.
std::string ReadWholeFile(const std::wstring& path) {
  std::string content;
  UniqueFile in(_wfopen(path.c_str(), L"rb"));
  if (!in) return content;
  char buffer[8192];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, in.get())) > 0) content.append(buffer, n);
  return content;
}

// False when any byte did not reach the disk (a full disk, for instance), so
// a short file is never moved over the player's settings.
bool WriteWholeFile(const std::wstring& path, const std::string& content) {
  std::FILE* raw = _wfopen(path.c_str(), L"wb");
  if (!raw) return false;
  const bool written = std::fwrite(content.data(), 1, content.size(), raw) == content.size();
  const bool closed = std::fclose(raw) == 0;
  return written && closed;
}

}  // namespace

bool WriteRealmConfig(const std::wstring& client_dir, std::string& error) {
  // Failure here (the folder exists, or cannot be made) shows up when the
  // temporary file is opened.
  CreateDirectoryW((client_dir + L"\\WTF").c_str(), nullptr);

  const std::wstring config_path = ClientPath(client_dir, ClientFolder::kConfigFile);
  const std::wstring temp_path = config_path + L".tmp";

  if (!WriteWholeFile(temp_path, RewriteRealmConfig(ReadWholeFile(config_path)))) {
    DeleteFileW(temp_path.c_str());
    error = "Cannot write temp config";
    return false;
  }
  if (!MoveFileExW(temp_path.c_str(), config_path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    const DWORD code = GetLastError();
    error = "MoveFileEx failed: " + std::to_string(code);
    return false;
  }
  return true;
}
