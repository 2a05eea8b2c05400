#include <windows.h>

#include <io.h>

#include <cstdio>
#include <optional>
#include <string>

#include "base/unique_file.h"
#include "game/client_folder.h"
#include "game/realm_config.h"

namespace {

// The whole file; empty when there is none (the client then gets a file with
// just the launcher's six lines). Nothing when a present file cannot be read:
// rewriting it from nothing would throw away the player's other settings.
std::optional<std::string> ReadWholeFile(const std::wstring& path) {
  std::string content;
  UniqueFile in(_wfopen(path.c_str(), L"rb"));
  if (!in) {
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return content;
    return std::nullopt;
  }
  char buffer[8192];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, in.get())) > 0) content.append(buffer, n);
  if (std::ferror(in.get())) return std::nullopt;
  return content;
}

// False when any byte did not reach the disk (a full disk, for instance), so
// a short file is never moved over the player's settings. The bytes are on the
// disk before the move, so a power cut right after it cannot leave an empty file.
bool WriteWholeFile(const std::wstring& path, const std::string& content) {
  std::FILE* raw = _wfopen(path.c_str(), L"wb");
  if (!raw) return false;
  const bool written = std::fwrite(content.data(), 1, content.size(), raw) == content.size() && std::fflush(raw) == 0 &&
                       _commit(_fileno(raw)) == 0;
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

  const std::optional<std::string> old_content = ReadWholeFile(config_path);
  if (!old_content) {
    error = "Cannot read config";
    return false;
  }
  if (!WriteWholeFile(temp_path, RewriteRealmConfig(*old_content))) {
    DeleteFileW(temp_path.c_str());
    error = "Cannot write temp config";
    return false;
  }
  if (!MoveFileExW(temp_path.c_str(), config_path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD code = GetLastError();
    error = "MoveFileEx failed: " + std::to_string(code);
    return false;
  }
  return true;
}
