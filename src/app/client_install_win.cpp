#include <objbase.h>
#include <windows.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "app/client_install.h"
#include "base/launcher_folder.h"
#include "data/settings.h"
#include "game/client_install.h"
#include "log/log_format.h"
#include "update/archive_extraction.h"
#include "update/hidden_process_win.h"

namespace {

class SystemInstallBackend : public InstallBackend {
 public:
  // The ZIP extraction may use the shell's COM objects, which want a single-threaded apartment.
  void EnterThread() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  void LeaveThread() override { CoUninitialize(); }
  std::wstring LauncherFolder() override { return ::LauncherFolder(); }
  bool Download(const std::wstring& url, const std::wstring& path, DownloadProgress progress,
                std::string& error) override {
    return HttpClient::DownloadFile(url, path, 0, std::move(progress), error);
  }
  void CreateFolders(const std::wstring& folder) override {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(folder), ec);
    if (ec) throw std::runtime_error("create_directories failed for " + NarrowLogText(folder) + ": " + ec.message());
  }
  bool Exists(const std::wstring& path) override { return PathExists(path); }
  std::vector<std::wstring> Subfolders(const std::wstring& folder) override { return ListSubfolders(folder); }
  std::optional<std::uint32_t> Run(const std::wstring& command_line) override { return RunHiddenAndWait(command_line); }
  FileCheckResult Check(const std::wstring& path, std::int64_t size, const std::string& md5) override {
    return CheckFile(path, size, md5);  // throws for an unreadable file: the worker reports it
  }
  bool ExtractZip(const std::wstring& archive, const std::wstring& folder) override {
    return ExtractWithTar(archive, folder);
  }
  void RemoveFile(const std::wstring& path) override { DeleteFileW(path.c_str()); }
  void SaveClientFolder(const std::wstring& wow_dir) override { ::SaveClientFolder(SettingsFilePath(), wow_dir); }
};

}  // namespace

std::shared_ptr<InstallBackend> MakeSystemInstallBackend() { return std::make_shared<SystemInstallBackend>(); }
