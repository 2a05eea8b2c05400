#include "net/file_digest.h"

#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <algorithm>
#include <functional>
#include <stdexcept>

#include "net/file_check.h"

namespace {

constexpr DWORD kReadPieceBytes = 1048576;

// One provider for the whole process, opened on first use and never closed:
// detached update threads may still be hashing while the process exits, and
// the system releases it then. A provider handle may be shared by threads;
// each hash object belongs to one digest.
BCRYPT_ALG_HANDLE Md5Provider() {
  static const BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle, BCRYPT_MD5_ALGORITHM, nullptr, 0)))
      return BCRYPT_ALG_HANDLE{};
    return handle;
  }();
  return provider;
}

// The provider keeps the hash object's memory itself (no buffer of ours):
// Wine warns on stderr for every hash made with a caller's buffer.
class Md5Hash {
 public:
  Md5Hash() {
    if (!Md5Provider() || !BCRYPT_SUCCESS(BCryptCreateHash(Md5Provider(), &handle_, nullptr, 0, nullptr, 0, 0))) {
      handle_ = nullptr;
    }
  }
  ~Md5Hash() {
    if (handle_) BCryptDestroyHash(handle_);
  }
  Md5Hash(const Md5Hash&) = delete;
  Md5Hash& operator=(const Md5Hash&) = delete;
  BCRYPT_HASH_HANDLE get() const { return handle_; }

 private:
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

// The digest of an open file, read from where it stands; nothing when `stop` said yes.
std::optional<std::string> Md5Of(HANDLE file, DigestBuffer& buffer, const DigestStop& stop) {
  Md5Hash hash;
  if (!hash.get()) throw std::runtime_error("MD5 provider unavailable");
  if (buffer.empty()) buffer.resize(kReadPieceBytes);
  const DWORD piece = static_cast<DWORD>(std::min<size_t>(buffer.size(), kReadPieceBytes));
  for (;;) {
    DWORD read = 0;
    // A failing read ends the digest early; it then matches nothing.
    if (!ReadFile(file, buffer.data(), piece, &read, nullptr) || read == 0) break;
    BCryptHashData(hash.get(), buffer.data(), read, 0);
    if (read == piece && stop && stop()) return std::nullopt;
  }
  UCHAR digest[16] = {};
  BCryptFinishHash(hash.get(), digest, sizeof digest, 0);
  return HexDigest(digest, sizeof digest);
}

}  // namespace

std::optional<std::string> FileMd5(const std::wstring& path, DigestBuffer& buffer, const DigestStop& stop) {
  if (stop && stop()) return std::nullopt;
  ReadHandle file(path);
  if (!file.valid()) throw std::runtime_error("Cannot open file for MD5");
  return Md5Of(file.get(), buffer, stop);
}

std::string FileMd5(const std::wstring& path) {
  // One read buffer per thread, kept: allocating and touching a fresh 1 MiB
  // block for every file costs more than hashing a small file.
  thread_local DigestBuffer buffer;
  return *FileMd5(path, buffer, nullptr);
}

std::optional<FileCheckResult> CheckFile(const std::wstring& path, int64_t expected_size,
                                         const std::string& expected_md5, DigestBuffer& buffer,
                                         const DigestStop& stop) {
  if (stop && stop()) return std::nullopt;
  bool stopped = false;
  const auto decide = [&](bool present, int64_t size,
                          const std::function<std::optional<std::string>()>& md5) -> std::optional<FileCheckResult> {
    const FileCheckResult result = DecideFileCheck(present, size, expected_size, expected_md5, [&] {
      const auto digest = md5();
      stopped = !digest;
      return digest.value_or(std::string());
    });
    if (stopped) return std::nullopt;
    return result;
  };

  if (!expected_md5.empty()) {
    // When the file will be hashed anyway, its open handle gives the size: one
    // lookup of the path instead of two, which counts in a folder of many small
    // files (under Wine a lookup costs about as much as hashing a small file).
    ReadHandle file(path);
    LARGE_INTEGER size = {};
    if (file.valid() && GetFileSizeEx(file.get(), &size)) {
      return decide(true, size.QuadPart, [&] { return Md5Of(file.get(), buffer, stop); });
    }
  }
  // Missing, not to be opened, or no digest asked for: the attributes decide,
  // and a present file that must be hashed gives FileMd5's error.
  WIN32_FILE_ATTRIBUTE_DATA attributes = {};
  const bool present = GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes) != 0;
  const int64_t size =
      present ? static_cast<int64_t>((static_cast<uint64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow)
              : 0;
  return decide(present, size, [&] { return FileMd5(path, buffer, stop); });
}

FileCheckResult CheckFile(const std::wstring& path, int64_t expected_size, const std::string& expected_md5) {
  thread_local DigestBuffer buffer;
  return *CheckFile(path, expected_size, expected_md5, buffer, nullptr);
}
