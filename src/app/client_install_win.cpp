#include <windows.h>

#include <filesystem>

#include "app/client_install.h"
#include "archive/archive_extraction.h"
#include "archive/hidden_process_win.h"
#include "archive/zip_extract.h"
#include "base/launcher_folder.h"
#include "data/settings.h"
#include "game/client_install.h"
#include "update/updater_backend.h"

namespace {

class SystemInstallBackend : public InstallBackend {
 public:
  // COM, folders and downloads exactly as the update runs do them.
  void EnterThread() override { files_->EnterThread(); }
  void LeaveThread() override { files_->LeaveThread(); }
  std::wstring LauncherFolder() override { return ::LauncherFolder(); }
  FetchBackend& Fetching() override { return *files_; }
  std::optional<std::int64_t> FreeSpace(const std::wstring& folder) override { return files_->FreeSpace(folder); }
  void CreateFolders(const std::wstring& folder) override { files_->CreateFolders(folder); }
  bool Exists(const std::wstring& path) override { return PathExists(path); }
  std::vector<std::wstring> Subfolders(const std::wstring& folder) override { return ListSubfolders(folder); }
  std::optional<std::uint32_t> Run(const std::wstring& command_line) override { return RunHiddenAndWait(command_line); }
  FileCheckResult Check(const std::wstring& path, std::int64_t size, const std::string& md5) override {
    return CheckFile(path, size, md5);  // throws for an unreadable file: the worker reports it
  }
  bool ExtractZip(const std::wstring& archive, const std::wstring& folder, std::string& error) override {
    return ExtractWithTar(archive, folder, error);
  }
  std::optional<std::int64_t> UnpackedSize(const std::wstring& archive) override {
    const auto size = ZipUnpackedSize(std::filesystem::path(archive));
    if (!size) return std::nullopt;
    return static_cast<std::int64_t>(*size);
  }
  void RemoveFile(const std::wstring& path) override { DeleteFileW(path.c_str()); }
  void SaveClientFolder(const std::wstring& wow_dir) override { ::SaveClientFolder(SettingsFilePath(), wow_dir); }
  std::optional<std::string> ReadSmallFile(const std::wstring& path, std::size_t limit, bool& missing) override {
    return files_->ReadSmallFile(path, limit, missing);
  }
  bool ReplaceSmallFile(const std::wstring& path, const std::string& bytes) override {
    return files_->ReplaceSmallFile(path, bytes);
  }

 private:
  const std::shared_ptr<UpdaterBackend> files_ = MakeSystemUpdaterBackend();
};

}  // namespace

std::shared_ptr<InstallBackend> MakeSystemInstallBackend() { return std::make_shared<SystemInstallBackend>(); }
