// Linux stand-in: a temporary file beside the target, then a rename over it.
#include <filesystem>
#include <fstream>
#include <system_error>

#include "base/file_replace.h"

bool ReplaceWholeFile(const std::wstring& path, const std::string& bytes) {
  const std::filesystem::path target(path);
  std::filesystem::path temp = target;
  temp += ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out || !out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) || !out.flush()) return false;
  }
  std::error_code ec;
  std::filesystem::rename(temp, target, ec);
  if (ec) std::filesystem::remove(temp, ec);
  return !ec;
}
