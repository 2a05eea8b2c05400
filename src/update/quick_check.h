// The quick check of an update run: entries whose file has not changed since
// an earlier run found it matching are up to date without being read.
//
// At the start of a run the folders of the manifest are listed once (every
// file's identity in a few calls per folder) and compared with the record that
// earlier runs left in the launcher's cache. During the run every entry that
// is hashed and found matching is remembered; at the end (and once before the
// first download, so a launcher closed mid-download keeps what it found) the
// record is replaced whole with what this run knows to be true.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "data/manifest.h"
#include "update/updater_backend.h"
#include "update/verified_record.h"

// A file changed within this long before the listing may change again in the
// same tick of the file system's clock without its identity showing it, so
// such identities are not trusted at the next run (they are read again then).
constexpr std::uint64_t kIdentitySettleTime = 10'000'000;  // 1 s in 100 ns units

// Why a stored record cannot serve for the client folder `folder`, or empty
// when it can.
std::string RecordProblem(const VerifiedRecord& record, const FolderIdentity& folder);

// Whether `entry` is up to date by the record alone: its file's identity `now`
// equals the one `recorded` when it matched, that identity had settled before
// `taken_at`, and every digest the entry asks for is the one it matched. An
// entry with no digest is never passed unread (its check reads nothing anyway).
bool QuickPasses(const GameFile& entry, const VerifiedFile* recorded, const std::optional<FileIdentity>& now,
                 std::uint64_t taken_at);
// Whether `entry` is wrong by the record alone: its file is unchanged as above
// and matched another digest than the entry asks for (the realm changed the
// file), so a big file about to be patched is not read twice.
bool QuickFails(const GameFile& entry, const VerifiedFile* recorded, const std::optional<FileIdentity>& now,
                std::uint64_t taken_at);

class QuickCheck {
 public:
  // `record_path` empty: no record is read or written and every entry is checked.
  // `full`: the stored record is ignored (every file is read) and then replaced.
  // `threads`: how many folders are listed at once.
  QuickCheck(UpdaterBackend& backend, const std::wstring& client_folder, std::wstring record_path, bool full,
             size_t threads);

  // Reads the record, lists the folders, decides which entries pass, and logs
  // the outcome. Entries from `unsafe` on are neither listed nor passed.
  void Begin(const std::vector<GameFile>& entries, size_t unsafe);

  // One flag per entry (not 0: up to date without a read); stable while check
  // threads run, as only Changed alters it.
  const std::vector<char>& Passed() const { return passed_; }
  // One flag per entry (not 0: known wrong without a read, by QuickFails).
  const std::vector<char>& Failed() const { return failed_; }

  // The run hashed entry `index` to its end and found it matching.
  void Matched(size_t index);
  // The run wrote the files of the entries `written` (downloads, unpacking):
  // their listed identities, and those of entries naming files an unpacking
  // may have written, are stale.
  void Changed(const std::vector<size_t>& written);
  // Replaces the stored record with what the run knows; `mid_run` only the first time.
  void Save(bool mid_run);
  // At the end of a run that completed: removes the download parts found in
  // the listing (update/download_parts.h) of files the manifest no longer lists.
  void RemoveStrayParts();

 private:
  // Lists each folder once, several at a time, into seen_.
  void ListFolders(const std::map<std::string, std::vector<size_t>>& folders);

  UpdaterBackend& backend_;
  const std::wstring& client_folder_;
  const std::wstring record_path_;
  const bool full_;
  const size_t threads_;
  const std::vector<GameFile>* entries_ = nullptr;
  std::vector<std::string> keys_;                            // ManifestPathKey per entry
  std::vector<std::optional<FileIdentity>> seen_;            // listed identity per entry
  std::vector<char> passed_, failed_, matched_;              // per entry
  std::vector<std::pair<std::string, std::wstring>> parts_;  // listed download parts: owner's key, path
  std::optional<FolderIdentity> folder_;
  VerifiedRecord old_;  // the stored record when trusted
  std::uint64_t taken_at_ = 0;
  bool saved_mid_run_ = false;
};
