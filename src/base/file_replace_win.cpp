#include "base/file_replace_win.h"

#include <limits>

#include "base/file_replace.h"
#include "base/unique_handle_win.h"

bool WriteAllBytes(HANDLE file, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::size_t left = bytes.size() - done;
    const DWORD chunk =
        left > std::numeric_limits<DWORD>::max() ? std::numeric_limits<DWORD>::max() : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return true;
}

bool ReplaceFileContent(const std::wstring& path, const std::string& bytes, const FileContentWriter& write) {
  const std::wstring temp_path = path + L".tmp";
  UniqueHandle temp(
      CreateFileW(temp_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!temp.valid()) return false;

  // The content must be on the disk before the move makes it the real file;
  // otherwise a crash could leave a moved but empty file.
  bool ok = write(temp.get(), bytes) && FlushFileBuffers(temp.get()) != 0;
  ok = temp.Close() && ok;
  ok = ok && MoveFileExW(temp_path.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  if (!ok) DeleteFileW(temp_path.c_str());
  return ok;
}

bool ReplaceWholeFile(const std::wstring& path, const std::string& bytes) { return ReplaceFileContent(path, bytes); }
