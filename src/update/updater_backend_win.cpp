#include <objbase.h>
#include <windows.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "log/log_format.h"
#include "update/archive_extraction.h"
#include "update/updater_backend.h"

namespace {

class SystemUpdaterBackend : public UpdaterBackend {
 public:
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

  bool Download(const std::wstring& url, const std::wstring& path, std::int64_t offset, DownloadProgress progress,
                std::string& error) override {
    return HttpClient::DownloadFile(url, path, offset, std::move(progress), error);
  }

  bool Extract(const std::wstring& archive, const std::wstring& folder) override { return ExtractZip(archive, folder); }
};

}  // namespace

std::shared_ptr<UpdaterBackend> MakeSystemUpdaterBackend() { return std::make_shared<SystemUpdaterBackend>(); }
