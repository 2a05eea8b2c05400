#include "archive/tar_command.h"

namespace {

std::wstring Quoted(const std::wstring& path) {
  std::wstring text = path;
  if (!text.empty() && text.back() == L'\\') text += L'.';
  return L"\"" + text + L"\"";
}

}  // namespace

std::wstring TarCommandLine(const std::wstring& tar_path, const std::wstring& archive_path,
                            const std::wstring& destination) {
  return Quoted(tar_path) + L" -xf " + Quoted(archive_path) + L" -C " + Quoted(destination);
}
