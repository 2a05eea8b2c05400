#include "update/updater.h"

#include <algorithm>
#include <exception>
#include <set>
#include <thread>
#include <utility>

#include "base/text.h"
#include "data/manifest_path.h"
#include "log/log.h"
#include "update/download_rate.h"
#include "update/verify_ahead.h"

namespace {

void Report(const UpdaterCallback& callback, const UpdaterProgress& record) {
  if (callback) callback(record);
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Feeds a download's progress into the run's report.
class Sampler {
 public:
  Sampler(UpdaterProgress& record, const GameFile& entry, const UpdaterCallback& callback, std::int64_t offset)
      : record_(record), entry_(entry), callback_(callback), rate_(offset) {}

  void operator()(std::int64_t done, std::int64_t total) {
    rate_.Sample(record_, done, total, entry_.size);
    Report(callback_, record_);
  }

 private:
  UpdaterProgress& record_;
  const GameFile& entry_;
  const UpdaterCallback& callback_;
  DownloadRate rate_;
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

std::wstring ClientTargetPath(const std::wstring& client_folder, const std::string& relative) {
  std::wstring path = client_folder + L"\\" + Widen(relative);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
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

Updater::Updater(std::wstring client_folder, std::shared_ptr<UpdaterBackend> backend, int check_threads)
    : client_folder_(std::move(client_folder)),
      backend_(std::move(backend)),
      check_threads_(CheckThreads(check_threads)) {}

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
  // They start only once an entry has been found up to date: a folder that
  // needs downloads spends its time downloading, and each download or
  // unpacking can change the files of later entries.
  size_t checkable = 0;  // entries before the first unsafe one
  while (checkable < entries.size() && !UnsafePathOf(entries[checkable])) ++checkable;
  std::vector<DigestBuffer> buffers(check_threads_);  // sized on first use
  VerifyAhead ahead(*backend_, client_folder_, entries, buffers, cancelled_);
  const DigestStop cancelled = [this] { return cancelled_.load(); };

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
      Report(callback, record);
      return;
    }

    const std::wstring target = ClientTargetPath(client_folder_, entry.path);
    record.phase = UpdaterPhase::Verifying;
    Report(callback, record);
    std::optional<FileCheckResult> result = ahead.Result(i);
    if (!result && !cancelled_) {
      ahead.Stop();
      result = backend_->Check(target, entry.size, entry.md5, entry.sha256, buffers[0], cancelled);
    }
    if (!result) break;  // cancelled while the file was read: ends as at the top
    if (*result == FileOk) {
      Log::Info(L"OK: " + Widen(entry.path));
      if (!ahead.Covers(i + 1)) ahead.Start(i + 1, checkable);
      continue;
    }

    ahead.Stop();
    record.phase = UpdaterPhase::Downloading;
    record.bytes_done = 0;
    record.bytes_total = entry.size;
    Report(callback, record);
    Log::Info(L"Downloading: " + Widen(entry.path));
    if (!UpdateFile(entry, callback, record, buffers[0])) {
      record.phase = UpdaterPhase::Error;
      Report(callback, record);
      return;
    }
  }
  record.phase = UpdaterPhase::Done;
  Report(callback, record);
}

bool Updater::UpdateFile(const GameFile& entry, const UpdaterCallback& callback, UpdaterProgress& record,
                         DigestBuffer& buffer) {
  const std::wstring target = ClientTargetPath(client_folder_, entry.path);
  backend_->CreateFolders(ParentFolderOf(target));

  std::int64_t offset = 0;
  if (const auto present = backend_->FileSize(target); present && *present < entry.size) offset = *present;

  for (;;) {
    Sampler sampler(record, entry, callback, offset);
    std::string error;
    if (!backend_->Download(Widen(entry.cdn_url), target, offset, std::ref(sampler), error)) {
      record.error = error;  // the partial file stays for the next run to resume
      return false;
    }
    if (entry.md5.empty() && entry.sha256.empty()) break;

    record.phase = UpdaterPhase::Verifying;
    record.file = entry.path + " (verify)";
    Report(callback, record);
    const std::optional<FileCheckResult> check =
        backend_->Check(target, entry.size, entry.md5, entry.sha256, buffer, nullptr);
    if (check == FileOk) break;
    if (offset == 0) {
      record.error =
          (check == FileSha256Mismatch ? "SHA-256 mismatch after download: " : "MD5 mismatch after download: ") +
          entry.path;
      return false;
    }
    // The bytes kept for the resume were not the start of this file (it was
    // changed on the server and grew): fetch it whole once before giving up.
    Log::Info(L"Resumed file does not match, downloading it whole: " + Widen(entry.path));
    offset = 0;
    record.phase = UpdaterPhase::Downloading;
    record.file = entry.path;
    record.bytes_done = 0;
    Report(callback, record);
  }

  if (entry.extract_to.empty()) return true;

  record.phase = UpdaterPhase::Extracting;
  record.file = entry.path;
  Report(callback, record);
  const std::wstring folder = ClientTargetPath(client_folder_, entry.extract_to);
  backend_->CreateFolders(folder);
  if (!backend_->Extract(target, folder)) {
    record.error = "Zip extraction failed: " + entry.path;
    return false;
  }
  return true;
}
