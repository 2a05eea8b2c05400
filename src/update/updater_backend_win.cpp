#include <objbase.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "archive/archive_extraction.h"
#include "base/file_replace_win.h"
#include "base/unique_handle_win.h"
#include "log/log_format.h"
#include "update/file_identity_win.h"
#include "update/updater_backend.h"

namespace {

// A part file written by several connections at once, each at its own offsets.
class SystemPartFile : public PartFile {
 public:
  SystemPartFile(UniqueHandle file, const std::wstring& path) : file_(std::move(file)), path_(path) {}

  bool WriteAt(std::int64_t offset, const char* data, std::size_t size, DownloadResult& failure) override {
    while (size > 0) {
      // With an offset given, a write on a handle opened for plain (synchronous)
      // use goes there and returns once written, whatever the handle's own position.
      OVERLAPPED at = {};
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
      if (!WriteFile(file_.get(), data, chunk, &written, &at) || written == 0) {
        const DWORD code = GetLastError();
        failure = WriteFailure(code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL, NarrowLogText(path_));
        return false;
      }
      offset += written;
      data += written;
      size -= written;
    }
    return true;
  }

  bool Flush() override { return FlushFileBuffers(file_.get()) != 0; }

 private:
  UniqueHandle file_;
  const std::wstring path_;
};

class SystemUpdaterBackend : public UpdaterBackend {
 public:
  explicit SystemUpdaterBackend(std::uint32_t stall_ms) : stall_ms_(stall_ms) {}

  // The unpacking uses the shell's COM objects, which want a single-threaded apartment.
  void EnterThread() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  void LeaveThread() override { CoUninitialize(); }

  std::optional<FileCheckResult> Check(const std::wstring& path, std::int64_t size, const std::string& md5,
                                       const std::string& sha256, DigestBuffer& buffer,
                                       const DigestStop& stop) override {
    return CheckFile(path, size, md5, sha256, buffer, stop);
  }

  std::optional<std::int64_t> FileSize(const std::wstring& path) override {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  }

  void CreateFolders(const std::wstring& folder) override {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(folder), ec);
    if (ec) {
      throw std::runtime_error("create_directories failed for " + NarrowLogText(folder) + ": " + ec.message());
    }
  }

  DownloadResult Download(const std::wstring& url, const std::wstring& path, std::int64_t offset,
                          const DownloadProgress& progress, const DownloadStop& stop) override {
    return HttpClient::DownloadFile(url, path, offset, progress, stop, stall_ms_);
  }

  DownloadResult DownloadRange(const std::wstring& url, std::int64_t first, std::int64_t last, std::int64_t total,
                               RangeSink& sink, const DownloadProgress& progress, const DownloadStop& stop) override {
    return HttpClient::DownloadRange(url, first, last, total, sink, progress, stop, stall_ms_);
  }

  std::unique_ptr<PartFile> OpenPartFile(const std::wstring& path) override {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return nullptr;
    return std::make_unique<SystemPartFile>(std::move(file), path);
  }

  bool MoveOver(const std::wstring& from, const std::wstring& to) override {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }

  std::optional<std::int64_t> FreeSpace(const std::wstring& folder) override {
    ULARGE_INTEGER free_to_caller{};
    if (!GetDiskFreeSpaceExW(folder.c_str(), &free_to_caller, nullptr, nullptr)) return std::nullopt;
    return static_cast<std::int64_t>(free_to_caller.QuadPart);
  }

  bool Extract(const std::wstring& archive, const std::wstring& folder, std::string& error) override {
    return ExtractZip(archive, folder, error);
  }

  bool ListFolder(const std::wstring& folder, std::vector<ListedFile>& files) override {
    return ListFolderIdentities(folder, files);
  }
  std::optional<FolderIdentity> IdentifyFolder(const std::wstring& folder) override { return FolderIdentityOf(folder); }
  std::uint64_t Now() override { return SystemTimeNow(); }
  std::optional<std::string> ReadSmallFile(const std::wstring& path, std::size_t limit, bool& missing) override {
    return ReadWholeFile(path, limit, missing);
  }
  bool ReplaceSmallFile(const std::wstring& path, const std::string& bytes) override {
    return ReplaceFileContent(path, bytes);
  }
  void RemoveFile(const std::wstring& path) override { DeleteFileW(path.c_str()); }

 private:
  const std::uint32_t stall_ms_;
};

}  // namespace

std::shared_ptr<UpdaterBackend> MakeSystemUpdaterBackend(std::uint32_t stall_ms) {
  return std::make_shared<SystemUpdaterBackend>(stall_ms);
}
