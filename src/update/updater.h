// Brings a client folder in line with the manifest's game files: checks each
// file, then downloads the missing or wrong ones, several at once, with resume
// and automatic retries, verifies them and unpacks archives. Each run has its
// own detached thread and ends with exactly one Done or Error report.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "data/manifest.h"
#include "net/http_download_plan.h"
#include "update/unpack_marks.h"
#include "update/updater_backend.h"
#include "update/updater_progress.h"

// What a run leaves free on the client folder's volume beyond the bytes it writes.
constexpr std::int64_t kSpareDiskBytes = 64ll << 20;

class Updater : public std::enable_shared_from_this<Updater> {
 public:
  // `check_threads`: how many files are checked at once ahead of the loop; 0
  // means one per processor, at most 4. `tuning`: the connections, retry pauses
  // and piece sizes of the downloads (tests and benchmarks pass their own).
  Updater(std::wstring client_folder, std::shared_ptr<UpdaterBackend> backend, int check_threads = 0,
          FetchTuning tuning = {});

  // Starts a run on a new detached thread that shares ownership of this
  // Updater and owns copies of the manifest and the callback. Returns at once;
  // throws if the thread cannot be created.
  void Start(const Manifest& manifest, UpdaterCallback callback);

  // Keeps the record of verified files at `path` (update/quick_check.h), so that
  // files unchanged since a run found them matching are not read again; with
  // `full` this run reads every file and then replaces the record. Before Start.
  void UseRecord(std::wstring path, bool full) {
    record_path_ = std::move(path);
    full_check_ = full;
  }

  // Keeps the unpack marks at `path` (update/unpack_marks.h): an archive is
  // marked while it is fetched and unpacked, and one still marked at the next
  // run is unpacked again even when it matches its digest. Before Start.
  void UseUnpackMarks(std::wstring path) { marks_path_ = std::move(path); }

  // Asks the run to stop before its next entry, and the checks and downloads in
  // hand to stop within one piece of their files; does not wait.
  void Cancel() { cancelled_ = true; }

  // The whole run on the calling thread: what Start's thread does.
  void Run(const Manifest& manifest, const UpdaterCallback& callback);

 private:
  void FileLoop(const Manifest& manifest, const UpdaterCallback& callback);
  // Fetches the entries `wanted` (indices, in manifest order) that the checks
  // found missing or wrong; false with `record` naming the failing entry.
  // `unpack_again`: archives found whole whose last unpack did not finish.
  bool FetchAll(const std::vector<GameFile>& entries, const std::vector<size_t>& wanted,
                const std::vector<size_t>& unpack_again, UnpackMarkFile* marks, const UpdaterCallback& callback,
                UpdaterProgress& record);
  // The download of entries[index].
  FetchItem ItemOf(const GameFile& entry) const;
  bool Unpack(const GameFile& entry, std::string& error);
  // The archives among `entries` that are whole (not `wanted`) but still
  // marked in `unfinished`, in manifest order; each is logged.
  std::vector<size_t> UnfinishedUnpacks(const std::vector<GameFile>& entries, const std::vector<size_t>& wanted,
                                        const std::vector<UnpackMark>& unfinished) const;
  UnpackMark MarkOf(const GameFile& entry) const;

  const std::wstring client_folder_;
  const std::shared_ptr<UpdaterBackend> backend_;
  const size_t check_threads_;
  const FetchTuning tuning_;
  std::wstring record_path_;
  bool full_check_ = false;
  std::wstring marks_path_;
  std::atomic<bool> cancelled_{false};
};

// Manifest paths must stay inside the client folder and name a file Windows
// holds under that name: the shared rule of data/manifest_path.h.
bool IsSafeClientRelativePath(const std::string& path);

// client folder + "\" + the widened relative path, every '/' made '\'.
std::wstring ClientTargetPath(const std::wstring& client_folder, const std::wstring& relative);
std::wstring ClientTargetPath(const std::wstring& client_folder, const std::string& relative);

// The folder that holds `path` (a root such as "C:\" stays whole).
std::wstring ParentFolderOf(const std::wstring& path);
