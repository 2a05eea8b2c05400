// Linux stand-in: the built-in reader does what the Windows tools do.
#include <string>

#include "archive/archive_extraction.h"
#include "archive/path_text.h"
#include "archive/zip_extract.h"

bool ExtractZip(const std::wstring& archive_path, const std::wstring& destination, std::string& error) {
  return ExtractZipArchive(PathFromWide(archive_path), PathFromWide(destination), error);
}

bool ExtractWithTar(const std::wstring& archive_path, const std::wstring& destination, std::string& error) {
  return ExtractZipArchive(PathFromWide(archive_path), PathFromWide(destination), error);
}
