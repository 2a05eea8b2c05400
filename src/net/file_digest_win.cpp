#include "net/file_digest.h"

#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <algorithm>
#include <functional>
#include <stdexcept>

#include "base/unique_handle_win.h"
#include "net/file_check.h"

namespace {

constexpr DWORD kReadPieceBytes = 1048576;

// One provider per algorithm for the whole process, opened on first use and
// never closed: detached update threads may still be hashing while the process
// exits, and the system releases it then. A provider handle may be shared by
// threads; each hash object belongs to one digest.
BCRYPT_ALG_HANDLE OpenProvider(const wchar_t* algorithm) {
  BCRYPT_ALG_HANDLE handle = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, 0))) return nullptr;
  return handle;
}

BCRYPT_ALG_HANDLE Md5Provider() {
  static const BCRYPT_ALG_HANDLE provider = OpenProvider(BCRYPT_MD5_ALGORITHM);
  return provider;
}

BCRYPT_ALG_HANDLE Sha256Provider() {
  static const BCRYPT_ALG_HANDLE provider = OpenProvider(BCRYPT_SHA256_ALGORITHM);
  return provider;
}

// The provider keeps the hash object's memory itself (no buffer of ours):
// Wine warns on stderr for every hash made with a caller's buffer. No provider:
// an empty hash, for a digest not asked for.
class Hash {
 public:
  explicit Hash(BCRYPT_ALG_HANDLE provider) {
    if (!provider || !BCRYPT_SUCCESS(BCryptCreateHash(provider, &handle_, nullptr, 0, nullptr, 0, 0))) {
      handle_ = nullptr;
    }
  }
  ~Hash() {
    if (handle_) BCryptDestroyHash(handle_);
  }
  Hash(const Hash&) = delete;
  Hash& operator=(const Hash&) = delete;
  BCRYPT_HASH_HANDLE get() const { return handle_; }

  std::string HexFinish(ULONG size) {
    UCHAR digest[32] = {};
    BCryptFinishHash(handle_, digest, size, 0);
    return HexDigest(digest, size);
  }

 private:
  BCRYPT_HASH_HANDLE handle_ = nullptr;
};

UniqueHandle OpenForReading(const std::wstring& path) {
  return UniqueHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

// The digests of an open file, read from where it stands; nothing when `stop` said yes.
std::optional<FileDigests> DigestsOf(HANDLE file, bool md5, bool sha256, DigestBuffer& buffer, const DigestStop& stop) {
  Hash md5_hash(md5 ? Md5Provider() : nullptr), sha256_hash(sha256 ? Sha256Provider() : nullptr);
  if ((md5 && !md5_hash.get()) || (sha256 && !sha256_hash.get()))
    throw std::runtime_error("Digest provider unavailable");
  if (buffer.empty()) buffer.resize(kReadPieceBytes);
  const DWORD piece = static_cast<DWORD>(std::min<size_t>(buffer.size(), kReadPieceBytes));
  for (;;) {
    DWORD read = 0;
    // A failing read ends the digest early; it then matches nothing.
    if (!ReadFile(file, buffer.data(), piece, &read, nullptr) || read == 0) break;
    if (md5) BCryptHashData(md5_hash.get(), buffer.data(), read, 0);
    if (sha256) BCryptHashData(sha256_hash.get(), buffer.data(), read, 0);
    if (read == piece && stop && stop()) return std::nullopt;
  }
  FileDigests digests;
  if (md5) digests.md5 = md5_hash.HexFinish(16);
  if (sha256) digests.sha256 = sha256_hash.HexFinish(32);
  return digests;
}

// One read buffer per thread, kept: allocating and touching a fresh 1 MiB
// block for every file costs more than hashing a small file.
DigestBuffer& ThreadBuffer() {
  thread_local DigestBuffer buffer;
  return buffer;
}

}  // namespace

std::optional<FileDigests> DigestFile(const std::wstring& path, bool md5, bool sha256, DigestBuffer& buffer,
                                      const DigestStop& stop) {
  if (stop && stop()) return std::nullopt;
  const UniqueHandle file = OpenForReading(path);
  if (!file.valid()) throw std::runtime_error("Cannot open file for MD5");
  return DigestsOf(file.get(), md5, sha256, buffer, stop);
}

FileDigests DigestFile(const std::wstring& path, bool md5, bool sha256) {
  return *DigestFile(path, md5, sha256, ThreadBuffer(), nullptr);
}

std::string FileMd5(const std::wstring& path) { return DigestFile(path, true, false).md5; }

std::optional<FileCheckResult> CheckFile(const std::wstring& path, int64_t expected_size,
                                         const std::string& expected_md5, const std::string& expected_sha256,
                                         DigestBuffer& buffer, const DigestStop& stop) {
  if (stop && stop()) return std::nullopt;
  if (!expected_md5.empty() || !expected_sha256.empty()) {
    // When the file will be hashed anyway, its open handle gives the size: one
    // lookup of the path instead of two, which counts in a folder of many small
    // files (under Wine a lookup costs about as much as hashing a small file).
    const UniqueHandle file = OpenForReading(path);
    LARGE_INTEGER size = {};
    if (file.valid() && GetFileSizeEx(file.get(), &size)) {
      return DecideFileCheck(true, size.QuadPart, expected_size, expected_md5, expected_sha256,
                             [&](bool md5, bool sha256) { return DigestsOf(file.get(), md5, sha256, buffer, stop); });
    }
  }
  // Missing, not to be opened, or no digest asked for: the attributes decide,
  // and a present file that must be hashed gives DigestFile's error.
  WIN32_FILE_ATTRIBUTE_DATA attributes = {};
  const bool present = GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes) != 0;
  const int64_t size =
      present ? static_cast<int64_t>((static_cast<uint64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow)
              : 0;
  return DecideFileCheck(present, size, expected_size, expected_md5, expected_sha256,
                         [&](bool md5, bool sha256) { return DigestFile(path, md5, sha256, buffer, stop); });
}

FileCheckResult CheckFile(const std::wstring& path, int64_t expected_size, const std::string& expected_md5,
                          const std::string& expected_sha256) {
  return *CheckFile(path, expected_size, expected_md5, expected_sha256, ThreadBuffer(), nullptr);
}
