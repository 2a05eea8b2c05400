#include "net/file_digest.h"

#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <stdexcept>
#include <vector>

#include "net/file_check.h"

namespace {

constexpr DWORD kReadPieceBytes = 1048576;

class AlgorithmProvider {
 public:
  // No algorithm: an empty provider, for a digest not asked for.
  explicit AlgorithmProvider(const wchar_t* algorithm) {
    if (!algorithm || !BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle_, algorithm, nullptr, 0))) handle_ = nullptr;
  }
  ~AlgorithmProvider() {
    if (handle_) BCryptCloseAlgorithmProvider(handle_, 0);
  }
  AlgorithmProvider(const AlgorithmProvider&) = delete;
  AlgorithmProvider& operator=(const AlgorithmProvider&) = delete;
  BCRYPT_ALG_HANDLE get() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

// The hash object lives in a buffer of the provider's stated size that this class owns;
// the buffer outlives the handle.
class Hash {
 public:
  explicit Hash(const AlgorithmProvider& provider) {
    DWORD object_size = 0;
    ULONG written = 0;
    if (!provider.get() ||
        !BCRYPT_SUCCESS(BCryptGetProperty(provider.get(), BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&object_size),
                                          sizeof object_size, &written, 0))) {
      return;
    }
    object_.assign(object_size, 0);
    if (!BCRYPT_SUCCESS(BCryptCreateHash(provider.get(), &handle_, object_.data(), object_size, nullptr, 0, 0))) {
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
  std::vector<UCHAR> object_;
  BCRYPT_HASH_HANDLE handle_ = nullptr;
};

class ReadHandle {
 public:
  explicit ReadHandle(const std::wstring& path)
      : handle_(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr)) {}
  ~ReadHandle() {
    if (valid()) CloseHandle(handle_);
  }
  ReadHandle(const ReadHandle&) = delete;
  ReadHandle& operator=(const ReadHandle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

FileDigests DigestFile(const std::wstring& path, bool md5, bool sha256) {
  AlgorithmProvider md5_provider(md5 ? BCRYPT_MD5_ALGORITHM : nullptr);
  AlgorithmProvider sha256_provider(sha256 ? BCRYPT_SHA256_ALGORITHM : nullptr);
  Hash md5_hash(md5_provider), sha256_hash(sha256_provider);
  if ((md5 && !md5_hash.get()) || (sha256 && !sha256_hash.get()))
    throw std::runtime_error("Digest provider unavailable");

  ReadHandle file(path);
  if (!file.valid()) throw std::runtime_error("Cannot open file for MD5");

  // One read buffer per thread, kept: allocating and touching a fresh 1 MiB
  // block for every file costs more than hashing a small file (a client
  // folder holds thousands of them).
  thread_local std::vector<UCHAR> buffer(kReadPieceBytes);
  for (;;) {
    DWORD read = 0;
    // A failing read ends the digest early; it then matches nothing.
    if (!ReadFile(file.get(), buffer.data(), kReadPieceBytes, &read, nullptr) || read == 0) break;
    if (md5) BCryptHashData(md5_hash.get(), buffer.data(), read, 0);
    if (sha256) BCryptHashData(sha256_hash.get(), buffer.data(), read, 0);
  }
  FileDigests digests;
  if (md5) digests.md5 = md5_hash.HexFinish(16);
  if (sha256) digests.sha256 = sha256_hash.HexFinish(32);
  return digests;
}

std::string FileMd5(const std::wstring& path) { return DigestFile(path, true, false).md5; }

FileCheckResult CheckFile(const std::wstring& path, int64_t expected_size, const std::string& expected_md5,
                          const std::string& expected_sha256) {
  WIN32_FILE_ATTRIBUTE_DATA attributes = {};
  const bool present = GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes) != 0;
  const int64_t size =
      present ? static_cast<int64_t>((static_cast<uint64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow)
              : 0;
  return DecideFileCheck(present, size, expected_size, expected_md5, expected_sha256,
                         [&](bool md5, bool sha256) { return DigestFile(path, md5, sha256); });
}
