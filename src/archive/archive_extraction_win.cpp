#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
#include <shellapi.h>
#include <shldisp.h>

#include <chrono>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive_extraction.h"
#include "archive/hidden_process_win.h"
#include "archive/tar_command.h"
#include "archive/zip_copy_watch.h"
#include "archive/zip_extract.h"
#include "archive/zip_reader.h"
#include "base/com_ptr.h"
#include "base/text.h"
#include "log/log.h"

namespace fs = std::filesystem;

namespace {

// Shell.Application and its IShellDispatch interface.
constexpr CLSID kShellApplication = {0x13709620, 0xC279, 0x11CE, {0xA4, 0x9E, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr IID kShellDispatch = {0xD8F015C0, 0xC278, 0x11CE, {0xA4, 0x9E, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

// Replace without asking, make folders without asking, never show an error dialog.
constexpr long kCopyOptions = FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
constexpr std::chrono::milliseconds kPollInterval{300};

// A VT_BSTR variant that frees its string.
class BstrVariant {
 public:
  explicit BstrVariant(const std::wstring& text) {
    VariantInit(&value_);
    value_.vt = VT_BSTR;
    value_.bstrVal = SysAllocString(text.c_str());
  }
  ~BstrVariant() { VariantClear(&value_); }
  BstrVariant(const BstrVariant&) = delete;
  BstrVariant& operator=(const BstrVariant&) = delete;

  bool ok() const { return value_.bstrVal != nullptr; }
  // A shallow copy for by-value parameters; the callee does not free it.
  VARIANT get() const { return value_; }

 private:
  VARIANT value_;
};

std::wstring Hex(unsigned long value) {
  wchar_t text[16];
  swprintf(text, 16, L"0x%08lX", value);
  return text;
}

// The shell's copy runs on other threads that may call back into this
// single-threaded apartment, so the wait keeps its messages flowing.
void WaitPumpingMessages(std::chrono::milliseconds duration) {
  const auto until = std::chrono::steady_clock::now() + duration;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(left.count()), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));  // leave it for the thread's own loop
        return;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

// Reads the archive's directory and checks every entry's name, so a corrupt
// archive or one with escaping names is refused before anything is copied.
bool PlanArchive(const std::wstring& archive, std::vector<ZipExtractionItem>& items, std::uint64_t& total_bytes,
                 std::string& error) {
  FileByteSource source;
  if (!source.Open(fs::path(archive))) {
    error = "cannot open the archive";
    Log::Error(L"ExtractZip: cannot open the archive " + archive);
    return false;
  }
  ZipReader reader(source);
  if (!reader.ReadDirectory(error) || !PlanZipExtraction(reader.entries(), items, error)) {
    Log::Error(L"ExtractZip: " + archive + L": " + Widen(error));
    return false;
  }
  total_bytes = 0;
  for (const auto& item : items) total_bytes += item.size;
  return true;
}

enum class ShellCopy { Done, Failed, Unavailable };

ShellCopy CopyWithShell(const std::wstring& archive, const std::wstring& destination,
                        const std::vector<ZipExtractionItem>& items, std::uint64_t total_bytes, std::string& error) {
  ComPtr<IShellDispatch> shell;
  const HRESULT created = CoCreateInstance(kShellApplication, nullptr, CLSCTX_INPROC_SERVER, kShellDispatch,
                                           reinterpret_cast<void**>(shell.Put()));
  if (FAILED(created) || !shell) {
    Log::Warn(L"ExtractZip: Shell.Application unavailable hr=" + Hex(static_cast<unsigned long>(created)));
    return ShellCopy::Unavailable;
  }
  const BstrVariant archive_path(archive);
  const BstrVariant destination_path(destination);
  if (!archive_path.ok() || !destination_path.ok()) return ShellCopy::Unavailable;

  ComPtr<Folder> archive_folder;
  ComPtr<Folder> destination_folder;
  ComPtr<FolderItems> archive_items;
  if (FAILED(shell->NameSpace(archive_path.get(), archive_folder.Put())) || !archive_folder) {
    Log::Info(L"ExtractZip: the shell cannot open " + archive + L" as a folder");
    return ShellCopy::Unavailable;
  }
  if (FAILED(shell->NameSpace(destination_path.get(), destination_folder.Put())) || !destination_folder) {
    Log::Info(L"ExtractZip: the shell cannot open the folder " + destination);
    return ShellCopy::Unavailable;
  }
  if (FAILED(archive_folder->Items(archive_items.Put())) || !archive_items) {
    Log::Info(L"ExtractZip: the shell lists no items in " + archive);
    return ShellCopy::Unavailable;
  }
  VARIANT what;  // borrows archive_items; not cleared
  VariantInit(&what);
  what.vt = VT_DISPATCH;
  what.pdispVal = archive_items.Get();
  VARIANT options;
  VariantInit(&options);
  options.vt = VT_I4;
  options.lVal = kCopyOptions;
  const HRESULT copied = destination_folder->CopyHere(what, options);
  if (FAILED(copied)) {
    Log::Warn(L"ExtractZip: the shell refused the copy hr=" + Hex(static_cast<unsigned long>(copied)));
    return ShellCopy::Unavailable;
  }

  // The copy runs on: wait until every entry is on disk, unchanged and with
  // the right content, for as long as the archive's size warrants.
  const auto limit = ShellCopyTimeLimit(total_bytes, items.size());
  Log::Info(L"ExtractZip: the shell is copying " + std::to_wstring(items.size()) + L" entries from " + archive +
            L" into " + destination + L"; waiting up to " + std::to_wstring(limit.count() / 1000) + L" s");
  ZipCopyWatch watch(fs::path(destination), items);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (watch.Poll()) {
      Log::Info(L"ExtractZip: unpacked " + archive);
      return ShellCopy::Done;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      Log::Error(L"ExtractZip: the shell did not finish unpacking " + archive + L" in time; waiting for " +
                 Widen(watch.pending()));
      error = "the system's unpacking did not finish in time";
      return ShellCopy::Failed;
    }
    WaitPumpingMessages(kPollInterval);
  }
}

bool ExtractZipOrThrow(const std::wstring& archive, const std::wstring& destination, std::string& error) {
  std::error_code ec;
  if (!fs::is_directory(fs::path(destination), ec)) {
    Log::Error(L"ExtractZip: destination folder does not exist: " + destination);
    error = "the destination folder does not exist";
    return false;
  }
  std::vector<ZipExtractionItem> items;
  std::uint64_t total_bytes = 0;
  if (!PlanArchive(archive, items, total_bytes, error)) return false;
  switch (CopyWithShell(archive, destination, items, total_bytes, error)) {
    case ShellCopy::Done: return true;
    case ShellCopy::Failed: return false;
    case ShellCopy::Unavailable: break;
  }
  Log::Info(L"ExtractZip: using the built-in reader for " + archive);
  return ExtractZipArchive(fs::path(archive), fs::path(destination), error);
}

bool ExtractWithTarOrThrow(const std::wstring& archive, const std::wstring& destination, std::string& error) {
  wchar_t system_folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(system_folder, MAX_PATH);
  const std::wstring tar =
      (length > 0 && length < MAX_PATH) ? std::wstring(system_folder, length) + L"\\tar.exe" : std::wstring();
  const DWORD attributes = tar.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(tar.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    Log::Info(L"ExtractWithTar: no tar.exe in the system folder; using the built-in ZIP reader for " + archive);
    return ExtractZipArchive(fs::path(archive), fs::path(destination), error);
  }

  const std::wstring command = TarCommandLine(tar, archive, destination);
  Log::Info(L"ExtractWithTar: " + command);
  const auto exit_code = RunHiddenAndWait(command);
  if (!exit_code) {
    error = "tar.exe could not be started";
    return false;
  }
  if (*exit_code != 0) {
    Log::Error(L"ExtractWithTar: tar.exe failed with exit code " + std::to_wstring(*exit_code) + L" for " + archive);
    error = "tar.exe failed with exit code " + std::to_string(*exit_code);
    return false;
  }
  return true;
}

// Runs one of the above, turning an exception into its logged reason.
template <typename Extract>
bool Guarded(const wchar_t* name, Extract&& extract, std::string& error) {
  try {
    return extract();
  } catch (const std::exception& e) {
    error = e.what();
  } catch (...) {
    error = "unknown error";
  }
  Log::Error(std::wstring(name) + L": " + Widen(error));
  return false;
}

}  // namespace

bool ExtractZip(const std::wstring& archive_path, const std::wstring& destination, std::string& error) {
  return Guarded(
      L"ExtractZip", [&] { return ExtractZipOrThrow(archive_path, destination, error); }, error);
}

bool ExtractWithTar(const std::wstring& archive_path, const std::wstring& destination, std::string& error) {
  return Guarded(
      L"ExtractWithTar", [&] { return ExtractWithTarOrThrow(archive_path, destination, error); }, error);
}
