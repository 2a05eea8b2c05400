#include "update/quick_check.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

#include "base/text.h"
#include "data/manifest_path.h"
#include "log/log.h"
#include "update/download_parts.h"
#include "update/updater.h"

namespace {

constexpr size_t kMaxRecordBytes = 64 << 20;  // some 700,000 files; a bigger one is not ours

// A listed name as ManifestPathKey writes names, or empty for a name no
// manifest path can give (characters beyond one byte).
std::string NameKey(const std::wstring& name) {
  std::string key;
  for (wchar_t c : name) {
    if (static_cast<unsigned>(c) > 0xFF) return std::string();
    key.push_back(c >= L'A' && c <= L'Z' ? static_cast<char>(c - L'A' + 'a') : static_cast<char>(c));
  }
  return key;
}

const VerifiedFile* Find(const VerifiedRecord& record, const std::string& key) {
  const auto it = std::lower_bound(record.files.begin(), record.files.end(), key,
                                   [](const VerifiedFile& file, const std::string& k) { return file.key < k; });
  return it != record.files.end() && it->key == key ? &*it : nullptr;
}

}  // namespace

std::string RecordProblem(const VerifiedRecord& record, const FolderIdentity& folder) {
  if (!(record.folder == folder)) return "it is from another client folder";
  return std::string();
}

bool QuickPasses(const GameFile& entry, const VerifiedFile* recorded, const std::optional<FileIdentity>& now,
                 std::uint64_t taken_at) {
  if (!recorded || !now || *now != recorded->identity) return false;
  if (entry.md5.empty() && entry.sha256.empty()) return false;
  if (entry.size >= 1 && now->size != entry.size) return false;
  // Without an id or a change time a replaced or rewritten file could look the same.
  if (now->file_id == 0 || now->change == 0) return false;
  if (now->change + kIdentitySettleTime > taken_at || now->last_write + kIdentitySettleTime > taken_at) return false;
  return MatchedDigests(*recorded, entry.md5, entry.sha256);
}

QuickCheck::QuickCheck(UpdaterBackend& backend, const std::wstring& client_folder, std::wstring record_path, bool full,
                       size_t threads)
    : backend_(backend),
      client_folder_(client_folder),
      record_path_(std::move(record_path)),
      full_(full),
      threads_(threads) {}

void QuickCheck::Begin(const std::vector<GameFile>& entries, size_t unsafe) {
  entries_ = &entries;
  passed_.assign(entries.size(), 0);
  matched_.assign(entries.size(), 0);
  if (record_path_.empty()) return;
  taken_at_ = backend_.Now();
  folder_ = backend_.IdentifyFolder(client_folder_);
  if (!folder_) return;
  folder_->path = client_folder_;

  // Every folder of the manifest listed once: entries grouped by their folder's key.
  keys_.resize(entries.size());
  seen_.assign(entries.size(), std::nullopt);
  std::map<std::string, std::vector<size_t>> folders;
  for (size_t i = 0; i < unsafe && i < entries.size(); ++i) {
    keys_[i] = ManifestPathKey(entries[i].path);
    const size_t slash = keys_[i].rfind('/');
    folders[slash == std::string::npos ? std::string() : keys_[i].substr(0, slash)].push_back(i);
  }
  ListFolders(folders);

  if (full_) return;
  bool missing = false;
  const std::optional<std::string> bytes = backend_.ReadSmallFile(record_path_, kMaxRecordBytes, missing);
  std::string why;
  if (!bytes) {
    if (!missing) why = "it cannot be read";
  } else if (bytes->size() > kMaxRecordBytes) {
    why = "it is too large";
  } else if (!ParseRecord(*bytes, old_, why)) {
    why = "it is " + why;
  } else {
    why = RecordProblem(old_, *folder_);
  }
  if (!why.empty()) {
    old_ = VerifiedRecord{};
    Log::Warn(L"Verified-state record not used, every file is checked: " + Widen(why));
  }
  size_t passed = 0;
  if (bytes && why.empty()) {
    for (size_t i = 0; i < unsafe && i < entries.size(); ++i) {
      passed_[i] = QuickPasses(entries[i], Find(old_, keys_[i]), seen_[i], old_.taken_at);
      passed += passed_[i] ? 1 : 0;
    }
  }
  Log::Info(L"Quick check: " + std::to_wstring(passed) + L" of " + std::to_wstring(entries.size()) +
            L" files unchanged since their last check");
}

void QuickCheck::ListFolders(const std::map<std::string, std::vector<size_t>>& folders) {
  std::vector<const std::pair<const std::string, std::vector<size_t>>*> work;
  for (const auto& folder : folders) work.push_back(&folder);
  std::atomic<size_t> next{0};
  std::mutex parts_mutex;
  const auto list = [&] {
    try {
      std::vector<ListedFile> listed;
      std::unordered_map<std::string, FileIdentity> by_name;
      for (size_t k = next++; k < work.size(); k = next++) {
        const auto& [folder, members] = *work[k];
        listed.clear();
        by_name.clear();
        if (!backend_.ListFolder(folder.empty() ? client_folder_ : ClientTargetPath(client_folder_, folder), listed)) {
          continue;
        }
        for (const ListedFile& file : listed) {
          if (std::string name = NameKey(file.name); !name.empty()) by_name.emplace(std::move(name), file.identity);
          if (const std::wstring owner = DownloadPartOwner(file.name); !owner.empty()) {
            const std::wstring path = folder.empty() ? client_folder_ : ClientTargetPath(client_folder_, folder);
            std::lock_guard<std::mutex> lock(parts_mutex);
            parts_.emplace_back((folder.empty() ? "" : folder + "/") + NameKey(owner), path + L"\\" + file.name);
          }
        }
        for (size_t i : members) {  // each entry in one folder only: no two threads write one slot
          const auto found = by_name.find(keys_[i].substr(folder.empty() ? 0 : folder.size() + 1));
          if (found != by_name.end()) seen_[i] = found->second;
        }
      }
    } catch (...) {
      // Out of memory: the files of a folder not listed are read as without a record.
    }
  };
  std::vector<std::thread> helpers;
  for (size_t t = 1; t < threads_ && t < work.size(); ++t) {
    try {
      helpers.emplace_back(list);
    } catch (const std::system_error&) {
      break;  // no thread to be had: fewer helpers
    }
  }
  list();
  for (std::thread& helper : helpers) helper.join();
}

void QuickCheck::Matched(size_t index) {
  if (index < matched_.size()) matched_[index] = 1;
}

void QuickCheck::Changed(const std::vector<size_t>& written) {
  if (seen_.empty() || written.empty()) return;
  std::set<std::string> files;
  std::vector<std::string> folders;  // of unpacked archives: few
  for (size_t i : written) {
    files.insert(keys_[i]);
    const GameFile& entry = (*entries_)[i];
    if (!entry.extract_to.empty()) folders.push_back(ManifestPathKey(entry.extract_to));
  }
  for (size_t j = 0; j < seen_.size(); ++j) {
    const std::string& key = keys_[j];
    const auto inside = [&key](const std::string& folder) { return IsInsidePathKey(key, folder); };
    if (files.count(key) || std::any_of(folders.begin(), folders.end(), inside)) {
      seen_[j].reset();
      passed_[j] = 0;
    }
  }
}

void QuickCheck::RemoveStrayParts() {
  if (parts_.empty()) return;
  const std::set<std::string> listed(keys_.begin(), keys_.end());
  std::set<std::wstring> found;
  for (const auto& part : parts_) found.insert(part.second);
  for (const auto& [owner, path] : parts_) {
    // A piece record whose part is gone was left by a kill right after its file was moved into place.
    const std::wstring part = PartOfRecord(path);
    if (listed.count(owner) && (part.empty() || found.count(part))) continue;
    backend_.RemoveFile(path);
    Log::Info(L"Removed a part file the manifest no longer lists: " + path);
  }
}

void QuickCheck::Save(bool mid_run) {
  if (record_path_.empty() || !folder_ || (mid_run && saved_mid_run_)) return;
  saved_mid_run_ = saved_mid_run_ || mid_run;
  std::vector<size_t> known;
  for (size_t i = 0; i < seen_.size(); ++i) {
    if (seen_[i] && (passed_[i] || matched_[i])) known.push_back(i);
  }
  std::stable_sort(known.begin(), known.end(), [this](size_t a, size_t b) { return keys_[a] < keys_[b]; });
  RecordWriter writer(*folder_, taken_at_);
  VerifiedFile file;
  for (size_t k = 0; k < known.size(); ++k) {
    const size_t i = known[k];
    if (k + 1 < known.size() && keys_[known[k + 1]] == keys_[i]) continue;  // a later entry naming it wins
    const VerifiedFile* kept = passed_[i] ? Find(old_, keys_[i]) : nullptr;
    if (kept) {
      file = *kept;
    } else {
      file.key = keys_[i];
      SetDigests(file, (*entries_)[i].md5, (*entries_)[i].sha256);
    }
    file.identity = *seen_[i];
    writer.Add(file);
  }
  if (!backend_.ReplaceSmallFile(record_path_, writer.Finish())) {
    Log::Warn(L"Cannot write the verified-state record: " + record_path_);
  }
}
