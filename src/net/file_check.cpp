#include "net/file_check.h"

bool SameMd5(const std::string& a, const std::string& b) { return a.size() == 32 && SameDigest(a, b); }

bool SameDigest(const std::string& a, const std::string& b) {
  if (a.empty() || a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const int x = HexValue(a[i]);
    if (x < 0 || x != HexValue(b[i])) return false;
  }
  return true;
}

std::optional<FileCheckResult> DecideFileCheck(
    bool present, int64_t size, int64_t expected_size, const std::string& expected_md5,
    const std::string& expected_sha256,
    const std::function<std::optional<FileDigests>(bool md5, bool sha256)>& digest) {
  if (!present) return FileMissing;
  if (expected_size >= 1 && size != expected_size) return FileSizeMismatch;
  if (expected_md5.empty() && expected_sha256.empty()) return FileOk;
  const std::optional<FileDigests> actual = digest(!expected_md5.empty(), !expected_sha256.empty());
  if (!actual) return std::nullopt;
  if (!expected_md5.empty() && !SameMd5(actual->md5, expected_md5)) return FileMd5Mismatch;
  if (!expected_sha256.empty() && !SameDigest(actual->sha256, expected_sha256)) return FileSha256Mismatch;
  return FileOk;
}
