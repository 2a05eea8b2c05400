// MD5 and SHA-256 digests of files, both in one read (net/stream_digests.h),
// and the check of a file against an expected size and digests.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

enum FileCheckResult : int32_t {
  FileOk = 0,              // present and matching
  FileMissing = 1,         // attributes cannot be read
  FileSizeMismatch = 2,    // expected size given (>= 1) and different
  FileMd5Mismatch = 3,     // expected digest given and different
  FileSha256Mismatch = 4,  // expected SHA-256 given and different (MD5 right or not given)
};

// Lower-case hex digests of one file; a digest not asked for stays empty.
struct FileDigests {
  std::string md5;
  std::string sha256;
};

// The memory a digest reads a file through. The caller keeps it, so that work
// over many files reads through a fixed few buffers; an empty one is sized on
// first use (one 512 KiB piece, 4 MiB once a file has been hashed on two threads).
using DigestBuffer = std::vector<unsigned char>;

// Asked after each full piece of a file is read; true abandons the digest.
using DigestStop = std::function<bool()>;

// Both digests in one read of the file. Throws std::runtime_error "Cannot
// open file for MD5" when the file cannot be opened for reading.
FileDigests DigestFile(const std::wstring& path, bool md5, bool sha256);

// The same through the caller's buffer; nothing when `stop` (if given) said yes.
std::optional<FileDigests> DigestFile(const std::wstring& path, bool md5, bool sha256, DigestBuffer& buffer,
                                      const DigestStop& stop);

// 32 lower-case hex digits of the file's MD5. Throws std::runtime_error
// "Cannot open file for MD5" when the file cannot be opened for reading.
std::string FileMd5(const std::wstring& path);

// Presence first, then size (when expected_size >= 1), then the digests (each
// when not empty; hex case does not matter), MD5 before SHA-256. Hashes the
// file only when the cheaper tests have passed, once for both digests. Passes
// on DigestFile's error for an unreadable file.
FileCheckResult CheckFile(const std::wstring& path, int64_t expected_size, const std::string& expected_md5,
                          const std::string& expected_sha256 = "");

// The same through the caller's buffer; nothing when the digest was stopped.
std::optional<FileCheckResult> CheckFile(const std::wstring& path, int64_t expected_size,
                                         const std::string& expected_md5, const std::string& expected_sha256,
                                         DigestBuffer& buffer, const DigestStop& stop);
