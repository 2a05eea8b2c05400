#include "net/file_digest.h"

#include <windows.h>

#include <stdexcept>

#include "base/unique_handle_win.h"
#include "net/file_check.h"
#include "net/stream_digests.h"

namespace {

UniqueHandle OpenForReading(const std::wstring& path) {
  return UniqueHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

// The digests of an open file, read from where it stands; nothing when `stop` said yes.
std::optional<FileDigests> DigestsOf(HANDLE file, bool md5, bool sha256, DigestBuffer& buffer, const DigestStop& stop) {
  const ReadPiece read = [file](unsigned char* into, std::size_t size) -> std::size_t {
    DWORD got = 0;
    // A failing read ends the digest early; it then matches nothing.
    if (!ReadFile(file, into, static_cast<DWORD>(size), &got, nullptr)) return 0;
    return got;
  };
  return DigestStream(read, md5, sha256, buffer, stop);
}

// One read buffer per thread, kept: allocating and touching a fresh buffer
// for every file costs more than hashing a small file.
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
