// What earlier update runs found: for one client folder, the files that
// matched their manifest entry, with the digests they matched and the file's
// identity at that moment. A file whose identity has not changed since has not
// been written, so it still holds the bytes that matched.
//
// Stored in a compact binary form (51 bytes per file plus its path) that ends in a
// CRC-32 of everything before it: a record that is truncated, edited or of
// another version is refused whole, never half read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A file as the file system describes it without opening it. Times are in
// 100 ns units (FILETIME); a write changes the last-write and the change
// time, and setting the last-write time back moves the change time on.
struct FileIdentity {
  std::int64_t size = 0;
  std::uint64_t last_write = 0;
  std::uint64_t change = 0;
  std::uint64_t file_id = 0;  // replaced by another file (copy, rename over it): a new id

  bool operator==(const FileIdentity& o) const {
    return size == o.size && last_write == o.last_write && change == o.change && file_id == o.file_id;
  }
  bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};

// The client folder itself: another folder at the same path is another client.
struct FolderIdentity {
  std::wstring path;
  std::uint64_t volume = 0;
  std::uint64_t file_id = 0;

  bool operator==(const FolderIdentity& o) const {
    return path == o.path && volume == o.volume && file_id == o.file_id;
  }
};

// One entry of a folder listing.
struct ListedFile {
  std::wstring name;
  FileIdentity identity;
};

struct VerifiedFile {
  std::string key;  // ManifestPathKey of the entry's path
  FileIdentity identity;
  bool has_md5 = false, has_sha256 = false;  // which digests it matched
  std::array<unsigned char, 16> md5{};
  std::array<unsigned char, 32> sha256{};
};

// Keeps the digests given as hex text (either case); an empty or malformed one is not kept.
void SetDigests(VerifiedFile& file, const std::string& md5, const std::string& sha256);

// Whether `file` matched every digest asked for (hex text, either case; empty: not asked).
bool MatchedDigests(const VerifiedFile& file, const std::string& md5, const std::string& sha256);
// Whether `file` matched a digest of a kind asked for that is another than the one asked
// for: its bytes are not the ones asked for.
bool OtherDigests(const VerifiedFile& file, const std::string& md5, const std::string& sha256);

struct VerifiedRecord {
  FolderIdentity folder;
  // The system time just before the identities were read: a file changed in
  // the same tick of the file system's clock may show an unchanged identity,
  // so identities this close to the reading are not trusted later.
  std::uint64_t taken_at = 0;
  std::vector<VerifiedFile> files;  // sorted by key, no key twice
};

// Writes a record file by file, so that a large one is never held twice.
class RecordWriter {
 public:
  RecordWriter(const FolderIdentity& folder, std::uint64_t taken_at);
  // In key order, each key once; a file with no digest is left out.
  void Add(const VerifiedFile& file);
  std::string Finish();

 private:
  std::string out_;
  size_t count_at_ = 0;
  std::uint32_t count_ = 0;
};

std::string SerializeRecord(const VerifiedRecord& record);

// Reads a serialized record; on any fault gives false with the reason in
// `why` ("unknown format version 7", "damaged" ...), and `record` undefined.
bool ParseRecord(const std::string& bytes, VerifiedRecord& record, std::string& why);
