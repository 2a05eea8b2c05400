// Bringing files onto the disk over a run's connections: one scheduler of up
// to kDownloadConnections connections for small files and for the pieces of
// big ones, shared by the update runs and the client installation.
//
// A file below kPiecedMinBytes (or of unknown size) comes whole over one
// connection, resumed from the bytes it holds. A bigger one comes in pieces,
// the next piece to the first free connection, written at their offsets into
// "<path>.ostrel-part"; its record (update/part_record.h) is replaced at most
// about once a second, after the part's data has been flushed, and the part
// takes the file's name only once it has been verified whole. Until a reply
// has shown that the server serves the file's ranges, one piece of it is asked
// for at a time; a server that does not (a 200, another range, another size, a
// longer body) gets the file asked for whole, over one connection, after one
// WARN line.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "net/file_digest.h"
#include "net/http_client.h"
#include "net/http_download_plan.h"
#include "update/piece_plan.h"
#include "update/small_files.h"

// How many connections a run uses at most (1: one file after the other).
constexpr int kDownloadConnections = 6;

// A file written at offsets by several connections at once.
class PartFile : public RangeSink {
 public:
  // Makes what has been written so far survive a power cut; false when it could not.
  virtual bool Flush() = 0;
};

// What fetching needs of the system; the Windows build supplies the real
// operations, the tests their own. Called from several threads at once.
class FetchBackend : public SmallFiles {
 public:
  // Presence, size and digests (each checked when given), reading through `buffer`; throws "Cannot
  // open file for MD5" for an unreadable present file. Gives nothing when `stop` (if given) said yes
  // between two pieces of the file.
  virtual std::optional<FileCheckResult> Check(const std::wstring& path, std::int64_t size, const std::string& md5,
                                               const std::string& sha256, DigestBuffer& buffer,
                                               const DigestStop& stop) = 0;
  // The size of a present file, nothing when it cannot be read.
  virtual std::optional<std::int64_t> FileSize(const std::wstring& path) = 0;
  // Creates a folder and its missing ancestors; throws a std::exception naming
  // "create_directories" and the folder on failure.
  virtual void CreateFolders(const std::wstring& folder) = 0;
  // One try, as HttpClient::DownloadFile and HttpClient::DownloadRange.
  virtual DownloadResult Download(const std::wstring& url, const std::wstring& path, std::int64_t offset,
                                  const DownloadProgress& progress, const DownloadStop& stop) = 0;
  virtual DownloadResult DownloadRange(const std::wstring& url, std::int64_t first, std::int64_t last,
                                       std::int64_t total, RangeSink& sink, const DownloadProgress& progress,
                                       const DownloadStop& stop) = 0;
  // Opens `path` for writing at offsets, made empty when missing and never cut;
  // nothing when it cannot be opened.
  virtual std::unique_ptr<PartFile> OpenPartFile(const std::wstring& path) = 0;
  // Moves `from` over `to` in one step; false when it could not.
  virtual bool MoveOver(const std::wstring& from, const std::wstring& to) = 0;
  // Removes a file; a missing one counts as removed.
  virtual void RemoveFile(const std::wstring& path) = 0;
};

// One file to fetch.
struct FetchItem {
  std::string name;  // in log lines and failures: the manifest's path, "WoW Client"
  std::wstring url;
  std::wstring path;        // where the file ends up
  std::int64_t size = 0;    // 0 or less: unknown
  std::string md5, sha256;  // checked after the download when given
};

// The fetch's settings; tests and benchmarks pass their own.
struct FetchTuning {
  std::size_t connections = kDownloadConnections;
  RetryPauses pauses;
  std::int64_t pieced_min = kPiecedMinBytes;
  std::int64_t smallest_piece = kSmallestPiece, largest_piece = kLargestPiece;  // PieceBytesFor
};

// What a fetch tells as it goes, one call at a time, from any of its threads.
class FetchReport {
 public:
  virtual ~FetchReport() = default;
  // Item `item` is taken up, holding `held` bytes it keeps.
  virtual void Begin(std::size_t item, std::int64_t held) = 0;
  // It now holds `bytes`, counted from the file's start.
  virtual void Bytes(std::size_t item, std::int64_t bytes) = 0;
  // It is done with (whole and verified, or failed).
  virtual void End(std::size_t item) = 0;
};

struct FetchFailure {
  std::size_t item = 0;
  std::string error;
  DownloadFailure kind = DownloadFailure::None;  // of the download that failed; None for a digest mismatch
};

class FileFetch {
 public:
  // Reads the part records of the items fetched in pieces: a part file whose
  // record is unusable is removed here (it cannot show what it holds).
  // `cancelled` stops every connection within one network piece.
  FileFetch(FetchBackend& backend, std::vector<FetchItem> items, FetchTuning tuning,
            const std::atomic<bool>& cancelled);
  ~FileFetch();
  FileFetch(const FileFetch&) = delete;
  FileFetch& operator=(const FileFetch&) = delete;

  // The bytes of item `item` already on disk that its fetch keeps.
  std::int64_t Held(std::size_t item) const;

  // Fetches the items `which` (in that order) over up to `connections` threads
  // while the calling thread keeps the part records. True when every one is
  // whole and verified, or the fetch was cancelled; false with the first
  // failure (connections then take nothing new).
  bool Run(const std::vector<std::size_t>& which, FetchReport& report, FetchFailure& failure);

 private:
  struct Item;
  struct Job;
  std::int64_t PieceOf(const Item& item) const;
  bool Over() const;
  bool Take(Job& job);
  void Connection(FetchReport& report);
  void Execute(const Job& job, FetchReport& report, DigestBuffer& buffer);
  void FetchWhole(std::size_t index, const std::wstring& target, FetchReport& report, DigestBuffer& buffer);
  void FetchPiece(std::size_t index, ByteRange piece, FetchReport& report, DigestBuffer& buffer);
  void Assemble(std::size_t index, FetchReport& report, DigestBuffer& buffer);
  void Fail(std::size_t index, const std::string& error, DownloadFailure kind, FetchReport& report);
  void KeepRecords(bool final);

  FetchBackend& backend_;
  const FetchTuning tuning_;
  const std::atomic<bool>& cancelled_;
  std::vector<std::unique_ptr<Item>> items_;
  std::vector<std::size_t> which_;  // the items of the Run in hand
  mutable std::mutex mutex_;        // the items' schedule and what they hold
  std::condition_variable changed_;
  std::mutex report_mutex_;  // one report at a time
  bool failed_ = false;
  FetchFailure failure_;
  std::size_t exited_ = 0;  // connections of the Run in hand that have ended
};
