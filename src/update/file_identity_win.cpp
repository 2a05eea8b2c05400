#include "update/file_identity_win.h"

#include <windows.h>

#include <algorithm>

#include "base/unique_handle_win.h"

namespace {

std::uint64_t Join(LARGE_INTEGER value) { return static_cast<std::uint64_t>(value.QuadPart); }

UniqueHandle OpenFolder(const std::wstring& folder, DWORD access) {
  return UniqueHandle(CreateFileW(folder.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

}  // namespace

bool ListFolderIdentities(const std::wstring& folder, std::vector<ListedFile>& files) {
  const UniqueHandle handle = OpenFolder(folder, FILE_LIST_DIRECTORY);
  if (!handle.valid()) return false;
  std::vector<std::uint64_t> buffer(64 * 1024 / sizeof(std::uint64_t));  // entries are 8-byte aligned
  for (FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;; kind = FileIdBothDirectoryInfo) {
    if (!GetFileInformationByHandleEx(handle.get(), kind, buffer.data(),
                                      static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t)))) {
      return GetLastError() == ERROR_NO_MORE_FILES;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
    for (;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes);
      if (!(entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ListedFile file;
        file.name.assign(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
        file.identity.size = entry->EndOfFile.QuadPart;
        file.identity.last_write = Join(entry->LastWriteTime);
        file.identity.change = Join(entry->ChangeTime);
        file.identity.file_id = Join(entry->FileId);
        files.push_back(std::move(file));
      }
      if (entry->NextEntryOffset == 0) break;
      bytes += entry->NextEntryOffset;
    }
  }
}

std::optional<FolderIdentity> FolderIdentityOf(const std::wstring& folder) {
  const UniqueHandle handle = OpenFolder(folder, FILE_READ_ATTRIBUTES);
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!handle.valid() || !GetFileInformationByHandle(handle.get(), &info)) return std::nullopt;
  FolderIdentity identity;
  identity.volume = info.dwVolumeSerialNumber;
  identity.file_id = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return identity;
}

std::uint64_t SystemTimeNow() {
  FILETIME now = {};
  GetSystemTimeAsFileTime(&now);
  return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

std::optional<std::string> ReadWholeFile(const std::wstring& path, std::size_t limit, bool& missing) {
  const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  const DWORD error = GetLastError();
  missing = !file.valid() && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND);
  LARGE_INTEGER size = {};
  if (!file.valid() || !GetFileSizeEx(file.get(), &size)) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(std::min<LONGLONG>(size.QuadPart, static_cast<LONGLONG>(limit) + 1)),
                    '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD read = 0;
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
    if (!ReadFile(file.get(), &bytes[done], piece, &read, nullptr) || read == 0) return std::nullopt;
    done += read;
  }
  return bytes;
}
