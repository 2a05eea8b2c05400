#include "update/updater.h"

#include <algorithm>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>

#include "base/text.h"
#include "data/manifest_path.h"
#include "log/log.h"
#include "log/log_format.h"
#include "update/download_rate.h"
#include "update/download_retry.h"
#include "update/file_fetch.h"
#include "update/quick_check.h"
#include "update/verify_ahead.h"

namespace {

void Report(const UpdaterCallback& callback, const UpdaterProgress& record) {
  if (callback) callback(record);
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The whole fetch as one report: bytes done of all bytes to fetch, the rate
// over all connections and the time left. Each connection reports its own
// file's bytes; a fetch tells them one at a time.
class FetchProgress {
 public:
  FetchProgress(UpdaterProgress& record, const UpdaterCallback& callback, const std::vector<GameFile>& entries,
                std::int64_t total, std::int64_t done)
      : record_(record), callback_(callback), entries_(entries), total_(total), done_(done), rate_(done) {}

  // Entry `index` starts, holding `held` bytes: its "Downloading:" line and the report's file.
  void Begin(size_t index, std::int64_t held) {
    Log::Info(L"Downloading: " + Widen(entries_[index].path));
    record_.phase = UpdaterPhase::Downloading;
    record_.index = static_cast<std::int32_t>(index + 1);
    record_.file = entries_[index].path;
    Set(index, held);
  }

  // Entry `index` now holds `bytes`.
  void Set(size_t index, std::int64_t bytes) {
    std::int64_t& held = held_[index];
    done_ += bytes - held;
    held = bytes;
    rate_.Sample(record_, done_, total_, total_);
    Report(callback_, record_);
  }

  // A file is done with: its bytes stay counted, its entry goes (the map holds
  // the files in hand, not every file of the run).
  void End(size_t index) { held_.erase(index); }

 private:
  UpdaterProgress& record_;
  const UpdaterCallback& callback_;
  const std::vector<GameFile>& entries_;
  const std::int64_t total_;
  std::int64_t done_;
  DownloadRate rate_;
  std::map<size_t, std::int64_t> held_;  // per file in hand: bytes of it counted in done_
};

// The reports of one fetch, whose items are the entries `entry_of`.
class EntryReport : public FetchReport {
 public:
  EntryReport(FetchProgress& progress, const std::vector<size_t>& entry_of)
      : progress_(progress), entry_of_(entry_of) {}
  void Begin(size_t item, std::int64_t held) override { progress_.Begin(entry_of_[item], held); }
  void Bytes(size_t item, std::int64_t bytes) override { progress_.Set(entry_of_[item], bytes); }
  void End(size_t item) override { progress_.End(entry_of_[item]); }

 private:
  FetchProgress& progress_;
  const std::vector<size_t>& entry_of_;
};

size_t CheckThreads(int asked) {
  if (asked > 0) return static_cast<size_t>(asked);
  const unsigned processors = std::thread::hardware_concurrency();
  return std::clamp<size_t>(processors, 1, 4);
}

// The unsafe path the run must stop at, if any: the run ends there, so nothing
// from there on is checked.
const std::string* UnsafePathOf(const GameFile& entry) {
  if (!IsSafeClientRelativePath(entry.path)) return &entry.path;
  if (!entry.extract_to.empty() && !IsSafeClientRelativePath(entry.extract_to)) return &entry.extract_to;
  return nullptr;
}

// Two entries that name one file (Windows ignores letter case) are not
// refused: the writes stay inside the client folder and the later entry wins,
// so the client still ends up whole; but every run then fetches the file
// again, which the operator should hear about.
void WarnAboutDuplicatePaths(const Manifest& manifest) {
  std::set<std::string> seen;
  for (const GameFile& entry : manifest.game_files) {
    if (!seen.insert(ManifestPathKey(entry.path)).second) {
      Log::Warn(L"Duplicate path in manifest: " + Widen(entry.path));
    }
  }
}

}  // namespace

bool IsSafeClientRelativePath(const std::string& path) { return IsSafeManifestPath(path); }

std::wstring ClientTargetPath(const std::wstring& client_folder, const std::wstring& relative) {
  std::wstring path = client_folder;
  if (path.empty() || !IsSeparator(path.back())) path += L'\\';  // a drive root already ends in one
  for (const wchar_t c : relative) path += c == L'/' ? L'\\' : c;
  return path;
}

std::wstring ClientTargetPath(const std::wstring& client_folder, const std::string& relative) {
  return ClientTargetPath(client_folder, Widen(relative));
}

std::wstring ParentFolderOf(const std::wstring& path) {
  size_t cut = path.size();
  while (cut > 0 && !IsSeparator(path[cut - 1])) --cut;  // the last component
  while (cut > 0 && IsSeparator(path[cut - 1])) --cut;   // the separators before it
  std::wstring parent = path.substr(0, cut);
  if (parent.size() == 2 && parent[1] == L':') parent += L'\\';  // "C:" is the root "C:\"
  if (parent.empty() && !path.empty() && IsSeparator(path[0])) parent = L"\\";
  return parent;
}

std::string DiskSpaceShortfall(std::int64_t needed, std::int64_t free, const std::wstring& where) {
  if (needed <= free) return "";
  constexpr std::int64_t kMb = 1 << 20;
  return "Not enough disk space: " + std::to_string((needed + kMb - 1) / kMb) + " MB needed, " +
         std::to_string(free / kMb) + " MB free on " + NarrowLogText(where);
}

Updater::Updater(std::wstring client_folder, std::shared_ptr<UpdaterBackend> backend, int check_threads,
                 FetchTuning tuning)
    : client_folder_(std::move(client_folder)),
      backend_(std::move(backend)),
      check_threads_(CheckThreads(check_threads)),
      tuning_(std::move(tuning)) {}

void Updater::Start(const Manifest& manifest, UpdaterCallback callback) {
  cancelled_ = false;
  std::thread([self = shared_from_this(), manifest, callback = std::move(callback)] {
    self->Run(manifest, callback);
  }).detach();
}

void Updater::Run(const Manifest& manifest, const UpdaterCallback& callback) {
  // Nothing may leave a worker thread, not even from the callback.
  try {
    backend_->EnterThread();
    try {
      FileLoop(manifest, callback);
    } catch (const std::exception& e) {
      Log::Error(L"Updater thread exception: " + Widen(e.what()));
      UpdaterProgress failure;
      failure.phase = UpdaterPhase::Error;
      failure.error = e.what();
      Report(callback, failure);
    } catch (...) {
      Log::Error(L"Updater thread unknown exception");
      UpdaterProgress failure;
      failure.phase = UpdaterPhase::Error;
      failure.error = "Unknown error in updater";
      Report(callback, failure);
    }
    backend_->LeaveThread();
  } catch (...) {
    Log::Error(L"Updater thread unknown exception");
  }
}

void Updater::FileLoop(const Manifest& manifest, const UpdaterCallback& callback) {
  const std::vector<GameFile>& entries = manifest.game_files;
  UpdaterProgress record;
  record.count = static_cast<std::int32_t>(entries.size());
  WarnAboutDuplicatePaths(manifest);

  // The checks run ahead of this loop, which takes their results in order.
  // They start only once an entry has been found up to date, and a worker
  // stops at an entry that needs fetching: a folder of missing files is
  // checked here, where a missing file costs next to nothing. Every entry is
  // checked before the first download, so the fetch knows its whole size.
  size_t checkable = 0;  // entries before the first unsafe one
  while (checkable < entries.size() && !UnsafePathOf(entries[checkable])) ++checkable;
  QuickCheck quick(*backend_, client_folder_, record_path_, full_check_, check_threads_);
  quick.Begin(entries, checkable);
  std::vector<DigestBuffer> buffers(check_threads_);  // sized on first use
  VerifyAhead ahead(*backend_, client_folder_, entries, buffers, cancelled_, quick.Passed());
  const DigestStop cancelled = [this] { return cancelled_.load(); };
  std::vector<size_t> wanted;        // entries to fetch
  std::vector<size_t> unpack_again;  // whole archives whose last unpack did not finish
  std::optional<UnpackMarkFile> marks;
  if (!marks_path_.empty()) marks.emplace(*backend_, marks_path_);
  const std::vector<UnpackMark> unfinished = marks ? marks->Unfinished() : std::vector<UnpackMark>();

  for (size_t i = 0; i < entries.size(); ++i) {
    if (cancelled_) break;
    const GameFile& entry = entries[i];
    record.index = static_cast<std::int32_t>(i + 1);
    record.file = entry.path;

    // A manifest must never make us write outside the client folder.
    if (const std::string* unsafe = UnsafePathOf(entry)) {
      record.phase = UpdaterPhase::Error;
      record.error = "Unsafe path in manifest: " + *unsafe;
      Log::Error(Widen(record.error));
      quick.Save(false);
      Report(callback, record);
      return;
    }

    const std::wstring target = ClientTargetPath(client_folder_, entry.path);
    record.phase = UpdaterPhase::Verifying;
    Report(callback, record);
    if (quick.Passed()[i]) continue;
    std::optional<FileCheckResult> result = ahead.Result(i);
    if (!result && !cancelled_) {
      ahead.Stop();
      result = backend_->Check(target, entry.size, entry.md5, entry.sha256, buffers[0], cancelled);
    }
    if (!result) break;  // cancelled while the file was read: ends as at the top
    if (*result != FileOk) {
      wanted.push_back(i);
      continue;
    }
    quick.Matched(i);  // only a check that ran to its end gets here
    Log::Info(L"OK: " + Widen(entry.path));
    if (!ahead.Covers(i + 1)) ahead.Start(i + 1, checkable);
  }
  ahead.Stop();
  if (!cancelled_) unpack_again = UnfinishedUnpacks(entries, wanted, unfinished);
  if (!cancelled_ && (!wanted.empty() || !unpack_again.empty())) {
    quick.Save(true);  // what the checks found outlives a launcher closed mid-download
    const bool fetched = FetchAll(entries, wanted, unpack_again, marks ? &*marks : nullptr, callback, record);
    std::vector<size_t> written = wanted;
    written.insert(written.end(), unpack_again.begin(), unpack_again.end());
    quick.Changed(written);
    if (!fetched) {
      quick.Save(false);
      record.phase = UpdaterPhase::Error;
      Report(callback, record);
      return;
    }
  }
  if (!cancelled_) quick.RemoveStrayParts();
  quick.Save(false);
  record.phase = UpdaterPhase::Done;
  Report(callback, record);
}

bool Updater::FetchAll(const std::vector<GameFile>& entries, const std::vector<size_t>& wanted,
                       const std::vector<size_t>& unpack_again, UnpackMarkFile* marks, const UpdaterCallback& callback,
                       UpdaterProgress& record) {
  // Of entries that name one file the last decides what it holds (as when they
  // were fetched one after the other); fetching the others would only put two
  // connections on one file.
  std::map<std::string, size_t> last;
  for (size_t i = 0; i < entries.size(); ++i) last[ManifestPathKey(entries[i].path)] = i;
  std::vector<size_t> fetched, files;  // entries to download; the items of plain files among them
  std::map<size_t, size_t> item_of;    // archive entry -> its item
  std::vector<FetchItem> items;
  for (size_t i : wanted) {
    if (last[ManifestPathKey(entries[i].path)] != i) continue;
    if (entries[i].extract_to.empty()) {
      files.push_back(items.size());
    } else {
      item_of[i] = items.size();
    }
    fetched.push_back(i);
    items.push_back(ItemOf(entries[i]));
  }
  FileFetch fetch(*backend_, items, tuning_, cancelled_);
  std::int64_t total = 0, present = 0;
  for (size_t k = 0; k < items.size(); ++k) {
    total += std::max<std::int64_t>(items[k].size, 0);
    present += fetch.Held(k);
  }
  std::set<size_t> archives(unpack_again.begin(), unpack_again.end());
  for (const auto& [entry, item] : item_of) archives.insert(entry);

  // Nothing is fetched into a volume that cannot hold it all.
  if (const auto free = backend_->FreeSpace(client_folder_)) {
    record.error = DiskSpaceShortfall(total - present + kSpareDiskBytes, *free, client_folder_);
    if (!record.error.empty()) {
      Log::Error(Widen(record.error));
      return false;
    }
  }

  FetchProgress progress(record, callback, entries, total, present);
  EntryReport report(progress, fetched);
  // The first failure is the run's; `record` takes it once the connections are
  // done, since until then they report through it.
  FetchFailure failure;
  const auto failed_run = [&](const std::vector<size_t>& entry_of) {
    record.index = static_cast<std::int32_t>(entry_of[failure.item] + 1);
    record.file = entries[entry_of[failure.item]].path;
    record.error = failure.error;
    return false;
  };

  // Plain files first, up to the fetch's connections at once.
  if (!fetch.Run(files, report, failure)) return failed_run(fetched);

  // Archives one at a time in manifest order, after the plain files: unpacking
  // writes many files and must not meet a download of one of them.
  // Each is marked from before its download (so a kill between the download
  // and the unpack is caught too) until its last entry is in place.
  for (size_t index : archives) {
    if (cancelled_) return true;
    UnpackMarkFile::Unpacking unpacking(marks, MarkOf(entries[index]));
    const auto item = item_of.find(index);
    if (item != item_of.end() && !fetch.Run({item->second}, report, failure)) return failed_run(fetched);
    if (cancelled_) return true;
    record.phase = UpdaterPhase::Extracting;
    record.index = static_cast<std::int32_t>(index + 1);
    record.file = entries[index].path;
    Report(callback, record);
    if (!Unpack(entries[index], record.error)) return false;
    unpacking.Finished();
  }

  // Unpacking may have replaced the files of entries listed after the archive:
  // those are checked again and fetched when wrong, so the later entry wins as
  // when everything ran in manifest order.
  std::set<size_t> again;
  for (size_t a : archives) {
    const std::string folder = ManifestPathKey(entries[a].extract_to);
    for (size_t j = a + 1; j < entries.size(); ++j) {
      const std::string key = ManifestPathKey(entries[j].path);
      if (IsInsidePathKey(key, folder) && last[key] == j) again.insert(j);
    }
  }
  DigestBuffer buffer;
  std::vector<size_t> wrong;
  std::vector<FetchItem> wrong_items;
  for (size_t j : again) {
    if (cancelled_) return true;
    const GameFile& entry = entries[j];
    const auto check = backend_->Check(ClientTargetPath(client_folder_, entry.path), entry.size, entry.md5,
                                       entry.sha256, buffer, nullptr);
    if (check == FileOk) continue;
    wrong.push_back(j);
    wrong_items.push_back(ItemOf(entry));
  }
  if (wrong.empty()) return true;
  FileFetch refetch(*backend_, wrong_items, tuning_, cancelled_);
  EntryReport refetch_report(progress, wrong);
  std::vector<size_t> all(wrong.size());
  for (size_t k = 0; k < all.size(); ++k) all[k] = k;
  return refetch.Run(all, refetch_report, failure) || failed_run(wrong);
}

FetchItem Updater::ItemOf(const GameFile& entry) const {
  return {entry.path, Widen(entry.cdn_url), ClientTargetPath(client_folder_, entry.path), entry.size,
          entry.md5,  entry.sha256};
}

std::vector<size_t> Updater::UnfinishedUnpacks(const std::vector<GameFile>& entries, const std::vector<size_t>& wanted,
                                               const std::vector<UnpackMark>& unfinished) const {
  std::vector<size_t> again;
  if (unfinished.empty()) return again;
  std::map<std::string, size_t> last;
  for (size_t i = 0; i < entries.size(); ++i) last[ManifestPathKey(entries[i].path)] = i;
  const std::set<size_t> fetched(wanted.begin(), wanted.end());  // unpacked after their download anyway
  for (size_t i = 0; i < entries.size(); ++i) {
    const GameFile& entry = entries[i];
    if (entry.extract_to.empty() || fetched.count(i) || last[ManifestPathKey(entry.path)] != i) continue;
    const UnpackMark mark = MarkOf(entry);
    if (std::none_of(unfinished.begin(), unfinished.end(), [&](const UnpackMark& m) { return SameArchive(m, mark); })) {
      continue;
    }
    Log::Warn(L"Unpacking " + Widen(entry.path) + L" again: the last unpack did not finish");
    again.push_back(i);
  }
  return again;
}

UnpackMark Updater::MarkOf(const GameFile& entry) const {
  return {ClientTargetPath(client_folder_, entry.path), ClientTargetPath(client_folder_, entry.extract_to), entry.size,
          entry.md5, entry.sha256};
}

bool Updater::Unpack(const GameFile& entry, std::string& error) {
  const std::wstring target = ClientTargetPath(client_folder_, entry.path);
  const std::wstring folder = ClientTargetPath(client_folder_, entry.extract_to);
  backend_->CreateFolders(folder);
  if (backend_->Extract(target, folder, error)) return true;
  error = "Could not unpack " + entry.path + ": " + error;
  return false;
}
