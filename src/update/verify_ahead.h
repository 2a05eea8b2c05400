// Checks the entries of an update run ahead of its file loop, on a few worker
// threads, so that while the loop reports entry i the next entries are being
// read and hashed. The loop still takes every result in manifest order, so its
// reports and log lines do not change; it only waits less.
//
// Each worker reads through one of the run's buffers (memory does not grow
// with the list). A worker stops handing out entries after one that needs a
// download or cannot be read: the loop stops the workers there, and what they
// checked beyond that point would be stale once a download or an unpacking has
// changed the folder.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "data/manifest.h"
#include "update/updater_backend.h"

class VerifyAhead {
 public:
  // One worker per buffer. `entries`, `buffers`, `cancelled` and `skip` outlive this
  // object; entries whose `skip` flag is set are up to date without a read, and `skip`
  // changes only while no worker runs.
  VerifyAhead(UpdaterBackend& backend, const std::wstring& client_folder, const std::vector<GameFile>& entries,
              std::vector<DigestBuffer>& buffers, const std::atomic<bool>& cancelled, const std::vector<char>& skip);
  ~VerifyAhead();
  VerifyAhead(const VerifyAhead&) = delete;
  VerifyAhead& operator=(const VerifyAhead&) = delete;

  // Starts checking entries [from, end) in order, each on the first free worker.
  void Start(size_t from, size_t end);

  // Stops the workers (each within one piece of the file in hand), joins them
  // and forgets their results. The buffers are free for the caller afterwards.
  void Stop();

  // True when `index` was started and may still be handed out.
  bool Covers(size_t index) const;

  // The check of a covered entry, waiting for it; the exception of a check
  // that threw is thrown again here. Nothing when the run was cancelled before
  // the result was known, or when no worker could take the entry.
  std::optional<FileCheckResult> Result(size_t index);

 private:
  enum class SlotState { Pending, Known, Failed, GivenUp };
  struct Slot {
    SlotState state = SlotState::Pending;
    FileCheckResult result = FileOk;
    std::exception_ptr error;
  };

  static constexpr size_t kNone = static_cast<size_t>(-1);
  static constexpr size_t kBatchFiles = 64;              // the loop's wake-ups: at most this many entries
  static constexpr std::int64_t kBatchBytes = 16 << 20;  // or bytes at once (a size not given counts as all)

  void Work(size_t buffer);
  void Finish(size_t index, Slot slot, bool lowered_end);

  UpdaterBackend& backend_;
  const std::wstring& client_folder_;
  const std::vector<GameFile>& entries_;
  std::vector<DigestBuffer>& buffers_;
  const std::atomic<bool>& cancelled_;
  const std::vector<char>& skip_;

  std::vector<std::thread> workers_;
  std::atomic<bool> stopping_{false};
  std::atomic<size_t> next_{0};  // the next entry to hand out
  std::atomic<size_t> end_{0};   // entries from here on are not handed out
  size_t from_ = 0;
  bool running_ = false;  // the loop's own view: Start without Stop since

  std::mutex mutex_;  // guards what follows
  std::condition_variable changed_;
  std::vector<Slot> slots_;       // entry from_ + k in slots_[k]
  size_t working_ = 0;            // workers not yet ended
  size_t awaited_first_ = kNone;  // while the loop sleeps: the entry it needs,
  size_t awaited_last_ = kNone;   // and the last of the batch it waits for
};
