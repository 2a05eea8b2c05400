// An in-memory client folder and download server for update-run tests. A file's MD5 here is
// 32 hex digits made from its content (so the record of verified files keeps it), its
// SHA-256 "sha256:" followed by the content. A file's identity follows its path and content.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "net/md5.h"
#include "update/download_parts.h"
#include "update/part_record.h"
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
    // A patched file is checked by the real MD5 as it is written, so an entry may name that too.
    if (!md5.empty() && DigestOf(content) != md5 && Md5Hex(content) != md5) return FileMd5Mismatch;
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
  // Failures queued in `failures` for a url come first, one per try (of a file or a range).
  DownloadResult Download(const std::wstring& url, const std::wstring& path, std::int64_t offset,
                          const DownloadProgress& progress, const DownloadStop&) override {
    std::int64_t total = 0;
    DownloadResult result;
    Busy busy(*this);
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

  // Writes bytes first..last of the served body through `sink` in 4-byte steps, as a server
  // that serves ranges (unless `whole_only`) of a file of the served size would; after a
  // queued failure (of `url`, or of "<url>@<first>"; an ok one passes a try), or `cut` bytes of a url's first range,
  // comes what the real client says.
  DownloadResult DownloadRange(const std::wstring& url, std::int64_t first, std::int64_t last, std::int64_t total,
                               RangeSink& sink, const DownloadProgress& progress, const DownloadStop&) override {
    DownloadResult result;
    std::string body;
    Busy busy(*this);
    {
      std::lock_guard<std::mutex> lock(mutex);
      ranges.push_back(std::to_string(first) + "-" + std::to_string(last));
      auto& at = failures[url + L"@" + std::to_wstring(first)];  // for the ranges that start there
      auto& queued = at.empty() ? failures[url] : at;
      if (!queued.empty()) {
        const bool pass = queued.front().ok;  // an ok entry: served as usual this time
        if (!pass) result = queued.front();
        queued.erase(queued.begin());
        if (!pass) return result;
      }
      const auto served = server.find(url);
      if (served == server.end()) return result.error = "HTTP 404", result.failure = DownloadFailure::Status, result;
      if (whole_only || static_cast<std::int64_t>(served->second.size()) != total) {
        return result.error = "Server sent the whole file instead of a range", result.failure = DownloadFailure::Ranges,
               result;
      }
      body = served->second.substr(static_cast<size_t>(first), static_cast<size_t>(last - first + 1));
      if (cut.count(url)) body.resize(std::min<size_t>(body.size(), static_cast<size_t>(cut[url]))), cut.erase(url);
    }
    for (size_t at = 0; at < body.size(); at += 4) {
      const size_t step = std::min<size_t>(4, body.size() - at);
      if (!sink.WriteAt(first + static_cast<std::int64_t>(at), body.data() + at, step, result)) return result;
      if (progress) progress(static_cast<std::int64_t>(at + step), last - first + 1);
    }
    if (static_cast<std::int64_t>(body.size()) <= last - first) {
      return result.error = "Download interrupted", result.failure = DownloadFailure::Network, result;
    }
    result.ok = true;
    return result;
  }

  // Writes into `files`; a flush copies the part as it stands into `durable` (what a power cut keeps).
  class Part : public PartFile {
   public:
    Part(FakeUpdaterBackend& backend, std::wstring path) : backend_(backend), path_(std::move(path)) {}
    bool WriteAt(std::int64_t offset, const char* data, std::size_t size, DownloadResult&) override {
      std::lock_guard<std::mutex> lock(backend_.mutex);
      std::string& content = backend_.files[path_];
      if (content.size() < offset + size) content.resize(static_cast<size_t>(offset) + size, '\0');
      content.replace(static_cast<size_t>(offset), size, data, size);
      return true;
    }
    bool Flush() override {
      std::lock_guard<std::mutex> lock(backend_.mutex);
      backend_.durable[path_] = backend_.files[path_];
      return true;
    }

   private:
    FakeUpdaterBackend& backend_;
    const std::wstring path_;
  };
  std::unique_ptr<PartFile> OpenPartFile(const std::wstring& path) override {
    std::lock_guard<std::mutex> lock(mutex);
    files[path];
    return std::make_unique<Part>(*this, path);
  }
  bool MoveOver(const std::wstring& from, const std::wstring& to) override {
    std::lock_guard<std::mutex> lock(mutex);
    if (!files.count(from)) return false;
    files[to] = files[from];
    files.erase(from);
    return true;
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
  // A piece record that claims bytes its part's last flush did not leave (a NUL: a hole) counts in `ahead`.
  bool ReplaceSmallFile(const std::wstring& path, const std::string& bytes) override {
    std::lock_guard<std::mutex> lock(mutex);
    PartRecord record;
    std::string why;
    if (!PartOfRecord(path).empty() && ParsePartRecord(bytes, record, why)) {
      const std::string& kept = durable[PartOfRecord(path)];
      for (const ByteRange& r : record.held.Ranges()) {
        ahead += r.end > static_cast<std::int64_t>(kept.size()) ||
                 kept.find('\0', static_cast<size_t>(r.first)) < static_cast<size_t>(r.end);
      }
    }
    return ++replaced, small[path] = bytes, true;
  }
  void RemoveFile(const std::wstring& path) override {
    std::lock_guard<std::mutex> lock(mutex);
    files.erase(path);
    small.erase(path);
  }

  // The served body of `url`, or a 404; a longer one than `max_bytes` is refused.
  HttpResponse GetBytes(const std::wstring& url, std::uint64_t max_bytes) override {
    std::lock_guard<std::mutex> lock(mutex);
    HttpResponse reply;
    const auto served = server.find(url);
    reply.status = served == server.end() ? 404 : 200;
    reply.ok = reply.status == 200 && served->second.size() <= max_bytes;
    if (reply.ok) reply.body = served->second;
    return reply;
  }

  // A copy of the file as it stands.
  struct Copy : ByteSource {
    explicit Copy(std::string bytes) : kept(std::move(bytes)) {}
    std::uint64_t Size() const override { return kept.size(); }
    bool ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override {
      return MemoryByteSource(reinterpret_cast<const std::uint8_t*>(kept.data()), kept.size())
          .ReadAt(offset, buffer, size);
    }
    std::string kept;
  };
  std::unique_ptr<ByteSource> OpenForReading(const std::wstring& path) override {
    std::lock_guard<std::mutex> lock(mutex);
    const auto file = files.find(path);
    return file == files.end() ? nullptr : std::make_unique<Copy>(file->second);
  }

  // Counts the downloads in hand, and the most there ever were at once.
  struct Busy {
    explicit Busy(FakeUpdaterBackend& b) : backend(b) {
      const int now = ++backend.busy;
      for (int most = backend.most_busy; now > most && !backend.most_busy.compare_exchange_weak(most, now);) {
      }
    }
    ~Busy() { --backend.busy; }
    FakeUpdaterBackend& backend;
  };

  std::mutex mutex;
  std::map<std::wstring, std::string> files;             // the client folder: path -> content
  std::map<std::wstring, std::string> server;            // url -> content
  std::map<std::wstring, bool> unreadable;               // present files that cannot be hashed
  std::map<std::wstring, std::string> unpacked;          // what an extraction writes: path below its folder -> content
  std::map<std::wstring, std::string> small;             // files read and replaced whole (the record, the marks)
  std::map<std::wstring, std::string> small_at_extract;  // as they were at the last extraction
  int replaced = 0, ahead = 0;
  size_t piece_bytes = 1 << 20;
  std::function<void(const std::wstring&)> on_piece;  // set before the run
  std::wstring failing_folder;
  bool extract_fails = false;
  std::optional<std::int64_t> free_space;
  std::map<std::wstring, std::vector<DownloadResult>> failures;  // url -> failed tries to give first
  std::map<std::wstring, std::int64_t> cut;                      // url -> bytes its next range gets, once
  std::map<std::wstring, std::string> durable;                   // parts as their last flush left them
  std::vector<std::string> ranges;                               // "first-last" per range asked for
  bool whole_only = false;                                       // the server ignores ranges
  std::atomic<int> busy{0}, most_busy{0};
  std::vector<std::wstring> checked, hashed, folders, extracted;  // hashed: in the order digests completed
  std::vector<std::pair<std::wstring, std::int64_t>> downloads;   // path, offset
};
