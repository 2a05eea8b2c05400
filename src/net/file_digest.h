// MD5 digests of files and the check of a file against an expected size and digest.
#pragma once

#include <cstdint>
#include <string>

enum FileCheckResult : int32_t {
  FileOk = 0,            // present and matching
  FileMissing = 1,       // attributes cannot be read
  FileSizeMismatch = 2,  // expected size given (>= 1) and different
  FileMd5Mismatch = 3,   // expected digest given and different
};

// 32 lower-case hex digits of the file's MD5. Throws std::runtime_error
// "Cannot open file for MD5" when the file cannot be opened for reading.
std::string FileMd5(const std::wstring& path);

// Presence first, then size (when expected_size >= 1), then the digest (when
// expected_md5 is not empty; hex case does not matter). Hashes the file only when
// the cheaper tests have passed. Passes on FileMd5's error for an unreadable file.
FileCheckResult CheckFile(const std::wstring& path, int64_t expected_size, const std::string& expected_md5);
