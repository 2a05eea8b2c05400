// An in-memory client folder and download server for update-run tests. A file's MD5 here is
// 32 hex digits made from its content (so the record of verified files keeps it), its
// SHA-256 "sha256:" followed by the content. A file's identity follows its path and content.
#pragma once

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "update/updater_backend.h"

class FakeUpdaterBackend : public UpdaterBackend {
 public:
  static std::string DigestOf(const std::string& content) {
    char hex[33];
    std::snprintf(hex, sizeof hex, "%016llx%016llx", Hash(content), Hash(content + "."));
    return hex;
  }

  // Reads a file "piece" by piece (piece_bytes each), asking `stop` before each and
  // calling on_piece (outside the lock) for each, as a digest over a file does.
  static unsigned long long Hash(const std::string& s) { return std::hash<std::string>{}(s) | 1; }

  std::optional<FileCheckResult> Check(const std::wstring& path, std::int64_t size, const std::string& md5,
                                       const std::string& sha256, DigestBuffer&, const DigestStop& stop) override {
    std::string content;
    {
      std::lock_guard<std::mutex> lock(mutex);
      checked.push_back(path);
      const auto file = files.find(path);
      if (file == files.end()) return FileMissing;
      if (size >= 1 && static_cast<std::int64_t>(file->second.size()) != size) return FileSizeMismatch;
      if (md5.empty() && sha256.empty()) return FileOk;
      if (unreadable.count(path)) throw std::runtime_error("Cannot open file for MD5");
      content = file->second;
    }
    for (size_t done = 0; done == 0 || done < content.size(); done += piece_bytes) {
      if (stop && stop()) return std::nullopt;
      if (on_piece) on_piece(path);
    }
    std::lock_guard<std::mutex> lock(mutex);
    hashed.push_back(path);
    if (!md5.empty() && DigestOf(content) != md5) return FileMd5Mismatch;
    if (!sha256.empty() && "sha256:" + content != sha256) return FileSha256Mismatch;
    return FileOk;
  }

  std::optional<std::int64_t> FileSize(const std::wstring& path) override {
    std::lock_guard<std::mutex> lock(mutex);
    const auto file = files.find(path);
    return file == files.end() ? std::nullopt : std::optional<std::int64_t>(file->second.size());
  }

  void CreateFolders(const std::wstring& folder) override {
    std::lock_guard<std::mutex> lock(mutex);
    if (folder == failing_folder) throw std::runtime_error("create_directories failed for the folder");
    folders.push_back(folder);
  }

  // Appends the served body from `offset` on, reporting progress in 4-byte steps.
  // Failures queued in `failures` for a url come first, one per try.
  DownloadResult Download(const std::wstring& url, const std::wstring& path, std::int64_t offset,
                          const DownloadProgress& progress, const DownloadStop&) override {
    std::int64_t total = 0;
    DownloadResult result;
    {
      std::lock_guard<std::mutex> lock(mutex);
      downloads.push_back({path, offset});
      auto& queued = failures[url];
      if (!queued.empty()) {
        result = queued.front();
        queued.erase(queued.begin());
        return result;
      }
      const auto served = server.find(url);
      if (served == server.end()) return result.error = "HTTP 404", result.failure = DownloadFailure::Status, result;
      total = static_cast<std::int64_t>(served->second.size());
      const std::string tail = served->second.substr(static_cast<size_t>(offset));
      files[path] = offset > 0 ? files[path] + tail : tail;  // appended as the updater asks, right or wrong
    }
    for (std::int64_t done = offset; progress && done < total;) progress(done = std::min(done + 4, total), total);
    result.ok = true;
    return result;
  }

  std::optional<std::int64_t> FreeSpace(const std::wstring&) override { return free_space; }

  bool Extract(const std::wstring&, const std::wstring& folder, std::string& error) override {
    std::lock_guard<std::mutex> lock(mutex);
    extracted.push_back(folder);
    // "<folder>\." is the folder itself, as Windows resolves it.
    const bool dot = folder.size() > 2 && folder.compare(folder.size() - 2, 2, L"\\.") == 0;
    const std::wstring base = dot ? folder.substr(0, folder.size() - 2) : folder;
    small_at_extract = small;
    for (const auto& [path, content] : unpacked) files[base + L"\\" + path] = content;
    if (extract_fails) error = "bad archive: CRC mismatch in \"x\"";
    return !extract_fails;
  }

  bool ListFolder(const std::wstring& folder, std::vector<ListedFile>& listed) override {
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& [path, content] : files) {
      const size_t cut = path.rfind(L'\\');
      if (path.compare(0, cut, folder) != 0 || cut != folder.size()) continue;
      const std::int64_t size = static_cast<std::int64_t>(content.size());
      listed.push_back({path.substr(cut + 1), {size, 1, Hash(content) >> 2, Hash(NarrowLowBytes(path)) >> 2}});
    }
    return true;
  }
  std::optional<FolderIdentity> IdentifyFolder(const std::wstring&) override { return FolderIdentity{L"", 1, 1}; }
  std::uint64_t Now() override { return std::uint64_t{1} << 62; }
  std::optional<std::string> ReadSmallFile(const std::wstring& path, std::size_t, bool& missing) override {
    std::lock_guard<std::mutex> lock(mutex);
    missing = !small.count(path);
    return missing ? std::nullopt : std::optional<std::string>(small[path]);
  }
  bool ReplaceSmallFile(const std::wstring& path, const std::string& bytes) override {
    std::lock_guard<std::mutex> lock(mutex);
    return ++replaced, small[path] = bytes, true;
  }
  void RemoveFile(const std::wstring& path) override {
    std::lock_guard<std::mutex> lock(mutex);
    files.erase(path);
  }

  std::mutex mutex;
  std::map<std::wstring, std::string> files;             // the client folder: path -> content
  std::map<std::wstring, std::string> server;            // url -> content
  std::map<std::wstring, bool> unreadable;               // present files that cannot be hashed
  std::map<std::wstring, std::string> unpacked;          // what an extraction writes: path below its folder -> content
  std::map<std::wstring, std::string> small;             // files read and replaced whole (the record, the marks)
  std::map<std::wstring, std::string> small_at_extract;  // as they were at the last extraction
  int replaced = 0;
  size_t piece_bytes = 1 << 20;
  std::function<void(const std::wstring&)> on_piece;  // set before the run
  std::wstring failing_folder;
  bool extract_fails = false;
  std::optional<std::int64_t> free_space;
  std::map<std::wstring, std::vector<DownloadResult>> failures;   // url -> failed tries to give first
  std::vector<std::wstring> checked, hashed, folders, extracted;  // hashed: in the order digests completed
  std::vector<std::pair<std::wstring, std::int64_t>> downloads;   // path, offset
};
