// MD5 digests of files and the check of a file against an expected size and digest.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

enum FileCheckResult : int32_t {
  FileOk = 0,            // present and matching
  FileMissing = 1,       // attributes cannot be read
  FileSizeMismatch = 2,  // expected size given (>= 1) and different
  FileMd5Mismatch = 3,   // expected digest given and different
};

// The memory a digest reads a file through. The caller keeps it, so that work
// over many files reads through a fixed few buffers; an empty one is sized on
// first use (1 MiB).
using DigestBuffer = std::vector<unsigned char>;

// Asked before each piece of a file is read; true abandons the digest.
using DigestStop = std::function<bool()>;

// 32 lower-case hex digits of the file's MD5. Throws std::runtime_error
// "Cannot open file for MD5" when the file cannot be opened for reading.
std::string FileMd5(const std::wstring& path);

// The same through the caller's buffer; nothing when `stop` (if given) said
// yes before the last piece.
std::optional<std::string> FileMd5(const std::wstring& path, DigestBuffer& buffer, const DigestStop& stop);

// Presence first, then size (when expected_size >= 1), then the digest (when
// expected_md5 is not empty; hex case does not matter). Hashes the file only when
// the cheaper tests have passed. Passes on FileMd5's error for an unreadable file.
FileCheckResult CheckFile(const std::wstring& path, int64_t expected_size, const std::string& expected_md5);

// The same through the caller's buffer; nothing when the digest was stopped.
std::optional<FileCheckResult> CheckFile(const std::wstring& path, int64_t expected_size,
                                         const std::string& expected_md5, DigestBuffer& buffer, const DigestStop& stop);
