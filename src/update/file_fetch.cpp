#include "update/file_fetch.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <exception>
#include <stdexcept>
#include <thread>
#include <utility>

#include "base/text.h"
#include "log/log.h"
#include "log/log_format.h"
#include "update/download_parts.h"
#include "update/download_retry.h"
#include "update/file_patch.h"
#include "update/part_record.h"

namespace {

using Clock = std::chrono::steady_clock;

// How often at most a part's record is replaced.
constexpr auto kRecordInterval = std::chrono::seconds(1);
// How long the keeper of the records sleeps when nothing wakes it.
constexpr auto kKeeperNap = std::chrono::milliseconds(200);
// A record longer than this is no record of ours.
constexpr std::size_t kLongestRecord = 1 << 20;

std::wstring FolderOf(const std::wstring& path) {
  const size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

std::string MismatchError(FileCheckResult check, const std::string& name) {
  return (check == FileSha256Mismatch ? "SHA-256 mismatch after download: " : "MD5 mismatch after download: ") + name;
}

std::int64_t BytesOf(const std::deque<ByteRange>& ranges) {
  std::int64_t bytes = 0;
  for (const ByteRange& r : ranges) bytes += r.end - r.first;
  return bytes;
}

}  // namespace

enum class Stage { Waiting, Running, Verifying, Done, Failed };

struct FileFetch::Item {
  FetchItem what;
  bool pieced = false;
  Stage stage = Stage::Waiting;
  std::int64_t held_at_start = 0;  // what the fetch began with (for the reports)
  // Of a file fetched in pieces:
  std::wstring part, record;
  ByteRanges held;              // written for sure: the record's, then what this fetch wrote
  std::deque<ByteRange> queue;  // pieces not handed out yet
  int in_flight = 0;
  std::atomic<bool> confirmed{false};  // a reply showed that the server serves its ranges
  std::atomic<bool> whole{false};      // it comes whole over one connection instead
  bool whole_started = false;
  bool begun = false;                     // its Begin has been reported
  bool resumed = false;                   // it holds bytes of an earlier fetch
  std::atomic<std::int64_t> received{0};  // bytes fetched in pieces since the start, for the reports
  std::int64_t recorded = 0;              // held bytes its record on disk claims
  Clock::time_point recorded_at{};
  std::unique_ptr<PartFile> file;  // open while pieces are written
  std::mutex record_mutex;         // its record, its part's handle, and what replaces or removes them
  // Of a file patched from its old copy:
  bool patchable = false;            // to be matched against its block map before its pieces are known
  std::unique_ptr<FilePatch> patch;  // the plan, once matched and worth it
};

struct FileFetch::Job {
  enum Kind { None, Whole, Fallback, Piece, Plan, Assemble } kind = None;
  std::size_t index = 0;
  ByteRange piece;
};

FileFetch::FileFetch(FetchBackend& backend, std::vector<FetchItem> items, FetchTuning tuning,
                     const std::atomic<bool>& cancelled)
    : backend_(backend), tuning_(std::move(tuning)), cancelled_(cancelled) {
  for (FetchItem& what : items) {
    auto item = std::make_unique<Item>();
    item->what = std::move(what);
    Item& it = *item;
    items_.push_back(std::move(item));
    // The old copy stays whole until the new file is verified: a patched file always comes into a part.
    it.patchable =
        !it.what.block_map.url.empty() && it.what.size > 0 && backend_.FileSize(it.what.path).value_or(0) > 0;
    it.pieced = it.patchable || it.what.size >= std::max<std::int64_t>(tuning_.pieced_min, 1);
    if (!it.pieced) {
      it.held_at_start = ResumeOffset(backend_.FileSize(it.what.path).value_or(0), it.what.size);
      continue;
    }
    it.part = DownloadPartPath(it.what.path);
    it.record = PartRecordPath(it.what.path);
    bool missing = true;
    const std::string text = backend_.ReadSmallFile(it.record, kLongestRecord, missing).value_or("");
    const std::optional<std::int64_t> part_size = backend_.FileSize(it.part);
    std::string why = "it has no record";
    if (part_size) {
      it.held = TrustedPartBytes(text, it.what.size, it.what.md5, it.what.sha256, *part_size, why);
    }
    it.recorded = it.held.Bytes();
    if (it.recorded > 0) {
      it.resumed = true;
      Log::Info(L"Resuming " + Widen(it.what.name) + L" from its part file: " + std::to_wstring(it.recorded) + L" of " +
                std::to_wstring(it.what.size) + L" bytes held");
    } else if (part_size || !missing) {
      if (part_size && *part_size > 0) {
        Log::Warn(L"Part file of " + Widen(it.what.name) + L" not used (" + Widen(why) + L"): starting over");
      }
      backend_.RemoveFile(it.part);
      backend_.RemoveFile(it.record);
    }
    if (!it.patchable) {
      for (const ByteRange& piece : it.held.Pieces(it.what.size, PieceOf(it))) it.queue.push_back(piece);
    }
    it.held_at_start = it.recorded;
  }
}

FileFetch::~FileFetch() = default;

std::int64_t FileFetch::PieceOf(const Item& item) const {
  return PieceBytesFor(item.what.size, tuning_.connections, tuning_.smallest_piece, tuning_.largest_piece);
}

std::int64_t FileFetch::Held(std::size_t item) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return items_[item]->held_at_start;
}

bool FileFetch::Run(const std::vector<std::size_t>& which, FetchReport& report, FetchFailure& failure) {
  std::size_t lanes = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    which_ = which;
    exited_ = 0;
    for (std::size_t i : which) lanes += items_[i]->pieced ? tuning_.connections : 1;
  }
  lanes = std::min(std::max<std::size_t>(tuning_.connections, 1), lanes);
  std::vector<std::thread> connections;
  try {
    while (connections.size() < lanes) connections.emplace_back([this, &report] { Connection(report); });
  } catch (...) {
    // Fewer threads than asked for: the ones there share the work.
  }
  if (connections.empty()) {
    Connection(report);
  } else {
    // This thread keeps the part records while the connections fetch.
    try {
      std::unique_lock<std::mutex> lock(mutex_);
      while (exited_ < connections.size()) {
        changed_.wait_for(lock, kKeeperNap);
        lock.unlock();
        KeepRecords(false);
        lock.lock();
      }
    } catch (...) {
      // A record not kept only costs a resume; the connections finish all the same.
    }
    for (std::thread& t : connections) t.join();
  }
  KeepRecords(true);  // what a failed or cancelled fetch wrote is there for the next one
  for (std::size_t i : which) {
    std::lock_guard<std::mutex> record_lock(items_[i]->record_mutex);
    items_[i]->file.reset();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  failure = failure_;
  return !failed_;
}

bool FileFetch::Over() const {
  if (failed_ || cancelled_) return true;
  return std::all_of(which_.begin(), which_.end(), [this](std::size_t i) {
    return items_[i]->stage == Stage::Done || items_[i]->stage == Stage::Failed;
  });
}

bool FileFetch::Take(Job& job) {
  for (std::size_t i : which_) {
    Item& it = *items_[i];
    if (it.stage == Stage::Done || it.stage == Stage::Failed || it.stage == Stage::Verifying) continue;
    job.index = i;
    if (!it.pieced) {
      if (it.stage != Stage::Waiting) continue;
      it.stage = Stage::Running;
      job.kind = Job::Whole;
      return true;
    }
    if (it.patchable) {
      if (it.stage != Stage::Waiting || planning_) continue;  // one old file read at a time
      it.stage = Stage::Running;
      planning_ = true;
      job.kind = Job::Plan;
      return true;
    }
    if (it.whole) {
      if (it.whole_started || it.in_flight > 0) continue;
      it.whole_started = true;
      job.kind = Job::Fallback;
      return true;
    }
    // Nothing to fetch and nothing out (a part whose record shows every byte, a
    // patch that fetches nothing): straight to its check.
    if (it.queue.empty() && it.in_flight == 0 && it.stage == Stage::Waiting) {
      it.stage = Stage::Verifying;
      job.kind = Job::Assemble;
      return true;
    }
    // Until the server has shown that it serves this file's ranges, one piece at a time.
    if (it.queue.empty() || (!it.confirmed && it.in_flight > 0)) continue;
    it.stage = Stage::Running;
    job.kind = Job::Piece;
    job.piece = it.queue.front();
    it.queue.pop_front();
    ++it.in_flight;
    return true;
  }
  return false;
}

void FileFetch::Connection(FetchReport& report) {
  try {
    DigestBuffer buffer;  // sized on first use
    for (;;) {
      Job job;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return Over() || Take(job); });
        if (job.kind == Job::None) break;
      }
      Execute(job, report, buffer);
      changed_.notify_all();
    }
  } catch (...) {
    // Execute catches everything; nothing may leave a thread even so.
  }
  std::lock_guard<std::mutex> lock(mutex_);
  ++exited_;
  changed_.notify_all();
}

void FileFetch::Execute(const Job& job, FetchReport& report, DigestBuffer& buffer) {
  Item& it = *items_[job.index];
  try {
    if (job.kind == Job::Piece) return FetchPiece(job.index, job.piece, report, buffer);
    if (job.kind == Job::Plan) return Plan(job.index, report);
    if (job.kind == Job::Assemble) {
      {
        std::lock_guard<std::mutex> record_lock(it.record_mutex);
        if (!std::exchange(it.begun, true)) {
          std::lock_guard<std::mutex> lock(report_mutex_);
          report.Begin(job.index, it.held_at_start);
        }
      }
      return Assemble(job.index, report, buffer);
    }
    if (job.kind == Job::Whole) {
      {
        std::lock_guard<std::mutex> lock(report_mutex_);
        report.Begin(job.index, it.held_at_start);
      }
      return FetchWhole(job.index, it.what.path, report, buffer);
    }
    // The pieces have all ended: the part starts anew and gets no record, which
    // could no longer tell what it holds.
    {
      std::lock_guard<std::mutex> record_lock(it.record_mutex);
      it.file.reset();
      backend_.RemoveFile(it.record);
      backend_.RemoveFile(it.part);
    }
    if (it.patch) {
      it.patch.reset();
      std::lock_guard<std::mutex> lock(report_mutex_);
      report.Brings(job.index, it.what.size);
    }
    FetchWhole(job.index, it.part, report, buffer);
  } catch (const std::exception& e) {
    Fail(job.index, e.what(), DownloadFailure::Local, report);
  } catch (...) {
    Fail(job.index, "Unknown error in updater", DownloadFailure::Local, report);
  }
}

void FileFetch::Fail(std::size_t index, const std::string& error, DownloadFailure kind, FetchReport& report) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    items_[index]->stage = Stage::Failed;
    if (!failed_) {
      failed_ = true;
      failure_ = {index, error, kind};
    }
  }
  std::lock_guard<std::mutex> lock(report_mutex_);
  report.End(index);
}

// One connection from start to end (a file below the pieced size, or one whose
// server does not serve ranges): resumed from the bytes `target` holds, checked,
// and fetched whole once more when resumed bytes turn out not to be its start.
void FileFetch::FetchWhole(std::size_t index, const std::wstring& target, FetchReport& report, DigestBuffer& buffer) {
  Item& it = *items_[index];
  const FetchItem& what = it.what;
  backend_.CreateFolders(FolderOf(target));
  const DownloadProgress progress = [&](std::int64_t done, std::int64_t) {
    std::lock_guard<std::mutex> lock(report_mutex_);
    report.Bytes(index, done);
  };
  const DownloadStop stop = [this] { return cancelled_.load(); };
  const auto resume_from = [&] { return ResumeOffset(backend_.FileSize(target).value_or(0), what.size); };
  const DownloadAttempt attempt = [&](std::int64_t from) {
    return backend_.Download(what.url, target, from, progress, stop);
  };
  std::int64_t offset = resume_from();
  for (;;) {
    const DownloadResult result = DownloadWithRetries(what.name, offset, attempt, resume_from, tuning_.pauses, stop);
    if (!result.ok) {
      // A cancel is no failure; the partial file stays for the next run to resume.
      if (!cancelled_) Fail(index, result.error, result.failure, report);
      return;
    }
    const std::optional<FileCheckResult> check =
        what.md5.empty() && what.sha256.empty() && target == what.path
            ? std::optional<FileCheckResult>(FileOk)
            : backend_.Check(target, what.size, what.md5, what.sha256, buffer, nullptr);
    if (check == FileOk) break;
    if (offset == 0) return Fail(index, MismatchError(*check, what.name), DownloadFailure::None, report);
    // The bytes kept for the resume were not the start of this file (it was
    // changed on the server and grew): fetch it whole once before giving up.
    Log::Info(L"Resumed file does not match, downloading it whole: " + Widen(what.name));
    offset = 0;
    progress(0, what.size);
  }
  if (target != what.path && !backend_.MoveOver(target, what.path)) {
    return Fail(index, "Cannot replace " + NarrowLogText(what.path), DownloadFailure::Local, report);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    it.stage = Stage::Done;
  }
  std::lock_guard<std::mutex> lock(report_mutex_);
  report.End(index);
}

namespace {

// Writes a piece into the part and notes what is written, so that a record
// claims only bytes that reached the file.
class PieceSink : public RangeSink {
 public:
  PieceSink(PartFile& file, ByteRanges& held, std::mutex& mutex) : file_(file), held_(held), mutex_(mutex) {}
  bool WriteAt(std::int64_t offset, const char* data, std::size_t size, DownloadResult& failure) override {
    if (!file_.WriteAt(offset, data, size, failure)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    held_.Add(offset, offset + static_cast<std::int64_t>(size));
    return true;
  }

 private:
  PartFile& file_;
  ByteRanges& held_;
  std::mutex& mutex_;
};

}  // namespace

void FileFetch::FetchPiece(std::size_t index, ByteRange piece, FetchReport& report, DigestBuffer& buffer) {
  Item& it = *items_[index];
  const FetchItem& what = it.what;
  {
    std::lock_guard<std::mutex> record_lock(it.record_mutex);
    if (!it.begun) {
      it.begun = true;
      size_t pieces = 1;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        pieces += it.queue.size();
      }
      Log::Info(Widen(what.name) + L": " + std::to_wstring(pieces) + L" pieces of up to " +
                std::to_wstring(PieceOf(it) >> 10) + L" KiB over up to " + std::to_wstring(tuning_.connections) +
                L" connections");
      std::lock_guard<std::mutex> lock(report_mutex_);
      report.Begin(index, it.held_at_start);
    }
    if (!it.file) {
      backend_.CreateFolders(FolderOf(it.part));
      it.file = backend_.OpenPartFile(it.part);
      if (!it.file) throw std::runtime_error("Cannot open " + NarrowLogText(it.part));
    }
  }
  PieceSink sink(*it.file, it.held, mutex_);
  std::int64_t counted = 0;  // of this try, in the reports
  const DownloadProgress progress = [&](std::int64_t received, std::int64_t) {
    if (!it.confirmed) {
      std::lock_guard<std::mutex> lock(mutex_);
      it.confirmed = true;
      changed_.notify_all();
    }
    const std::int64_t bytes = it.held_at_start + (it.received += received - counted);
    counted = received;
    std::lock_guard<std::mutex> lock(report_mutex_);
    report.Bytes(index, bytes);
  };
  const DownloadStop stop = [&] { return cancelled_ || it.whole; };
  const auto resume_from = [&] {
    std::lock_guard<std::mutex> lock(mutex_);
    return it.held.HeldFrom(piece.first);
  };
  const DownloadAttempt attempt = [&](std::int64_t from) {
    counted = 0;
    if (from >= piece.end) {
      DownloadResult written;
      written.ok = true;
      return written;
    }
    return backend_.DownloadRange(what.url, from, piece.end - 1, what.size, sink, progress, stop);
  };
  const std::string name =
      what.name + " (bytes " + std::to_string(piece.first) + "-" + std::to_string(piece.end - 1) + ")";
  const DownloadResult result = DownloadWithRetries(name, resume_from(), attempt, resume_from, tuning_.pauses, stop);

  bool assemble = false, fall_back = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    --it.in_flight;
    if (result.ok) {
      assemble = it.queue.empty() && it.in_flight == 0 && !it.whole && it.stage == Stage::Running;
      if (assemble) it.stage = Stage::Verifying;
    } else if (result.failure == DownloadFailure::Ranges && !it.whole) {
      it.whole = fall_back = true;
    }
  }
  if (fall_back) {
    Log::Warn(L"The server does not serve " + Widen(what.name) + L" in ranges (" + Widen(result.error) +
              L"): fetching it whole over one connection");
    changed_.notify_all();
  } else if (!result.ok && !it.whole && !cancelled_) {
    Fail(index, result.error, result.failure, report);
  }
  if (assemble) Assemble(index, report, buffer);
}

// Matches the old copy of a patchable file against its block map; the plan's
// fetched stretches, less what the part already holds, become its pieces. A
// map that cannot be used, or a plan not worth it, leaves the file to come
// whole in pieces.
void FileFetch::Plan(std::size_t index, FetchReport& report) {
  Item& it = *items_[index];
  const FetchItem& what = it.what;
  {
    std::lock_guard<std::mutex> record_lock(it.record_mutex);
    it.begun = true;
    std::lock_guard<std::mutex> lock(report_mutex_);
    report.Begin(index, it.held_at_start);
  }
  auto patch = std::make_unique<FilePatch>();
  std::string why;
  const bool planned = PlanFilePatch(
      backend_, what, [this] { return cancelled_.load(); }, *patch, why);
  if (cancelled_) {
    std::lock_guard<std::mutex> lock(mutex_);
    planning_ = false;
    return;  // the part and its record stay for the next run
  }
  const PatchPlan& plan = patch->plan;
  if (!planned) {
    Log::Warn(L"Block map of " + Widen(what.name) + L" not used (" + Widen(why) + L"): fetching the file whole");
  } else if (!PatchWorthIt(plan)) {
    Log::Info(Widen(what.name) + L": the old copy holds only " +
              std::to_wstring(100 - plan.fetch_bytes * 100 / std::max<std::uint64_t>(plan.file_size, 1)) +
              L" % of it: fetching it whole");
  }
  std::int64_t brings = 0, held = 0;
  bool patched = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    planning_ = false;
    it.patchable = false;
    it.stage = Stage::Waiting;  // nothing of it is out
    ByteRanges known = it.held;
    if (planned && PatchWorthIt(plan)) {
      for (const PatchOp& op : plan.ops) {
        if (!op.fetch)
          known.Add(static_cast<std::int64_t>(op.offset), static_cast<std::int64_t>(op.offset + op.length));
      }
      it.patch = std::move(patch);
    }
    for (const ByteRange& piece : known.Pieces(what.size, PieceOf(it))) it.queue.push_back(piece);
    if (it.patch) {
      patched = true;
      brings = static_cast<std::int64_t>(it.patch->plan.fetch_bytes);
      held = it.held_at_start = brings - BytesOf(it.queue);
    }
  }
  if (patched) {
    Log::Info(Widen(what.name) + L": its block map leaves " + std::to_wstring(brings) + L" of " +
              std::to_wstring(what.size) + L" bytes to fetch (" + std::to_wstring(held) + L" of them in its part)");
    std::lock_guard<std::mutex> lock(report_mutex_);
    report.Brings(index, brings);
    report.Bytes(index, held);
  }
  changed_.notify_all();
}

// Every piece is in: a patched part gets the rest of its bytes from the old
// copy; then the part is checked and takes the file's name. A part that fails
// is fetched again from nothing, once, when it was patched or held bytes of an
// earlier fetch.
void FileFetch::Assemble(std::size_t index, FetchReport& report, DigestBuffer& buffer) {
  Item& it = *items_[index];
  const FetchItem& what = it.what;
  std::unique_lock<std::mutex> record_lock(it.record_mutex);
  std::string why;
  // A patched part is checked as it is written; any other part is read for its check.
  FileCheckResult check = FileMd5Mismatch;
  if (it.patch) {
    if (!it.file) {
      backend_.CreateFolders(FolderOf(it.part));
      it.file = backend_.OpenPartFile(it.part);
      if (!it.file) throw std::runtime_error("Cannot open " + NarrowLogText(it.part));
    }
    DownloadResult write_failure;
    const bool applied = ApplyFilePatch(
        backend_, what, *it.patch, it.part, *it.file, buffer, [this] { return cancelled_.load(); }, check, why,
        write_failure);
    it.file.reset();
    if (!applied && cancelled_) return;  // the part and its record stay for the next run
    if (!applied && write_failure.failure != DownloadFailure::None) {
      record_lock.unlock();
      return Fail(index, write_failure.error, write_failure.failure, report);
    }
  } else {
    it.file.reset();
    // Not stoppable, so always a result.
    check = backend_.Check(it.part, what.size, what.md5, what.sha256, buffer, nullptr).value_or(FileMd5Mismatch);
  }
  if (check == FileOk) {
    if (!backend_.MoveOver(it.part, what.path)) {
      record_lock.unlock();
      return Fail(index, "Cannot replace " + NarrowLogText(what.path), DownloadFailure::Local, report);
    }
    backend_.RemoveFile(it.record);
    record_lock.unlock();
    if (it.patch) {
      Log::Info(L"Patched " + Widen(what.name) + L": " +
                std::to_wstring(it.patch->map_bytes + static_cast<std::int64_t>(it.patch->plan.fetch_bytes)) + L" of " +
                std::to_wstring(what.size) + L" bytes fetched");
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      it.stage = Stage::Done;
    }
    std::lock_guard<std::mutex> lock(report_mutex_);
    report.End(index);
    return;
  }
  backend_.RemoveFile(it.record);
  backend_.RemoveFile(it.part);
  if (it.patch) {
    if (why.empty())
      why = check == FileSha256Mismatch ? "the result does not match its SHA-256" : "the result does not match its MD5";
    Log::Warn(L"Patching " + Widen(what.name) + L" failed (" + Widen(why) + L"): fetching the file whole");
  } else if (it.resumed) {
    Log::Info(L"Resumed file does not match, downloading it whole: " + Widen(what.name));
  } else {
    record_lock.unlock();
    return Fail(index, MismatchError(check, what.name), DownloadFailure::None, report);
  }
  const bool patched = it.patch != nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Restart(it);
  }
  record_lock.unlock();
  {
    std::lock_guard<std::mutex> lock(report_mutex_);
    if (patched) report.Brings(index, what.size);
    report.Bytes(index, 0);
  }
  changed_.notify_all();
}

// The item starts over from nothing, as a whole file in pieces.
void FileFetch::Restart(Item& it) {
  it.held = ByteRanges();
  it.queue.clear();
  for (const ByteRange& piece : it.held.Pieces(it.what.size, PieceOf(it))) it.queue.push_back(piece);
  it.patch.reset();
  it.resumed = false;
  it.confirmed = false;
  it.recorded = 0;
  it.received = 0;
  it.held_at_start = 0;
  it.stage = Stage::Running;
}

void FileFetch::KeepRecords(bool final) {
  std::vector<std::size_t> which;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    which = which_;
  }
  for (std::size_t i : which) {
    Item& it = *items_[i];
    if (!it.pieced) continue;
    // A part being checked or moved is left alone: its record is about to go.
    std::unique_lock<std::mutex> record_lock(it.record_mutex, std::try_to_lock);
    if (!record_lock.owns_lock()) continue;
    PartRecord record{it.what.size, it.what.md5, it.what.sha256, {}};
    const Clock::time_point now = Clock::now();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!it.file || it.whole || (!final && now - it.recorded_at < kRecordInterval)) continue;
      record.held = it.held;
    }
    if (record.held.Bytes() == it.recorded) continue;
    // Only bytes on the disk may be claimed: the data first, then the record.
    if (!it.file->Flush() || !backend_.ReplaceSmallFile(it.record, PartRecordText(record))) continue;
    it.recorded = record.held.Bytes();
    it.recorded_at = now;
  }
}
