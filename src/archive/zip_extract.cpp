#include "archive/zip_extract.h"

#include <fstream>
#include <system_error>

#include "archive/path_text.h"
#include "archive/zip_entry_path.h"
#include "base/text.h"
#include "log/log.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint16_t kFlagEncrypted = 0x0001 | 0x0040;

// Suffix of the file an entry is written to before it replaces the real one,
// so a corrupt entry never destroys a good file already in place.
const wchar_t kPartialSuffix[] = L".ostrel-part";

std::string NameForError(const ZipEntry& entry) { return "entry \"" + entry.name + "\""; }

std::string PathText(const fs::path& path) { return NarrowLowBytes(PathToWide(path)); }

// Moves the finished file over the entry's target, clearing a read-only
// target first (the shell's copy replaces those too).
bool ReplaceFile(const fs::path& from, const fs::path& to, std::error_code& ec) {
  fs::rename(from, to, ec);
  if (!ec) return true;
  std::error_code ignored;
  if (fs::is_regular_file(to, ignored)) {
    fs::permissions(to, fs::perms::owner_write, fs::perm_options::add, ignored);
    fs::remove(to, ignored);
    fs::rename(from, to, ec);
  }
  return !ec;
}

bool WriteEntryFile(ZipReader& reader, const ZipEntry& entry, const fs::path& target, std::string& error) {
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  if (ec) {
    error = "cannot create folder " + PathText(target.parent_path()) + ": " + ec.message();
    return false;
  }
  fs::path partial = target;
  partial += kPartialSuffix;
  std::ofstream out(partial, std::ios::binary | std::ios::trunc);
  if (!out) {
    error = "cannot write " + PathText(partial);
    return false;
  }
  const bool read_ok = reader.ReadEntry(
      entry,
      [&out](const std::uint8_t* data, std::size_t size) {
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        return static_cast<bool>(out);
      },
      error);
  out.close();
  if (!read_ok || !out) {
    if (read_ok || error == "output refused") error = "cannot write " + PathText(partial);
    fs::remove(partial, ec);
    return false;
  }
  if (!ReplaceFile(partial, target, ec)) {
    error = "cannot replace " + PathText(target) + ": " + ec.message();
    std::error_code ignored;
    fs::remove(partial, ignored);
    return false;
  }
  return true;
}

// The built-in reader's limits, checked up front so an archive it cannot
// read is refused before anything is written.
bool CheckReadable(const std::vector<ZipEntry>& entries, std::string& error) {
  for (const ZipEntry& entry : entries) {
    if (entry.is_directory) continue;
    if (entry.flags & kFlagEncrypted) {
      error = "refused " + NameForError(entry) + ": encrypted";
      return false;
    }
    if (entry.method != 0 && entry.method != 8) {
      error = "refused " + NameForError(entry) + ": unsupported compression method " + std::to_string(entry.method);
      return false;
    }
  }
  return true;
}

}  // namespace

bool PlanZipExtraction(const std::vector<ZipEntry>& entries, std::vector<ZipExtractionItem>& items,
                       std::string& error) {
  items.clear();
  std::vector<std::wstring> parts;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const ZipEntry& entry = entries[i];
    std::string reason;
    if (!ZipEntryPathParts(entry.name, entry.utf8_name, parts, reason)) {
      error = "refused " + NameForError(entry) + ": " + reason;
      return false;
    }
    if (parts.empty()) {
      if (entry.is_directory) continue;  // the destination itself
      error = "refused " + NameForError(entry) + ": names no file";
      return false;
    }
    ZipExtractionItem item;
    item.entry_index = i;
    for (const auto& part : parts) item.relative /= PathFromWide(part);
    item.is_directory = entry.is_directory;
    item.size = entry.size;
    item.crc32 = entry.crc32;
    items.push_back(std::move(item));
  }
  return true;
}

namespace {

bool ExtractOrThrow(const fs::path& archive, const fs::path& destination, std::string& error) {
  const auto fail = [&](const std::string& reason) {
    error = reason;
    Log::Error(L"ZipExtract: " + PathToWide(archive) + L": " + Widen(reason));
    return false;
  };
  std::error_code ec;
  if (!fs::is_directory(destination, ec)) return fail("destination folder does not exist: " + PathText(destination));
  FileByteSource source;
  if (!source.Open(archive)) return fail("cannot open the archive");
  ZipReader reader(source);
  std::string reason;
  if (!reader.ReadDirectory(reason)) return fail(reason);
  std::vector<ZipExtractionItem> items;
  if (!PlanZipExtraction(reader.entries(), items, reason) || !CheckReadable(reader.entries(), reason)) {
    return fail(reason);
  }

  Log::Info(L"ZipExtract: unpacking " + PathToWide(archive) + L" (" + std::to_wstring(items.size()) +
            L" entries) into " + PathToWide(destination));
  std::size_t files = 0, folders = 0;
  std::uint64_t bytes = 0;
  for (const auto& item : items) {
    const ZipEntry& entry = reader.entries()[item.entry_index];
    const fs::path target = destination / item.relative;
    if (item.is_directory) {
      fs::create_directories(target, ec);
      if (ec) return fail("cannot create folder " + PathText(target) + ": " + ec.message());
      ++folders;
      continue;
    }
    if (!WriteEntryFile(reader, entry, target, reason)) return fail(reason);
    ++files;
    bytes += entry.size;
  }
  Log::Info(L"ZipExtract: unpacked " + std::to_wstring(files) + L" files and " + std::to_wstring(folders) +
            L" folders, " + std::to_wstring(bytes) + L" bytes");
  return true;
}

}  // namespace

bool ExtractZipArchive(const fs::path& archive, const fs::path& destination, std::string& error) {
  try {
    return ExtractOrThrow(archive, destination, error);
  } catch (const std::exception& e) {
    error = e.what();
  } catch (...) {
    error = "unknown error";
  }
  Log::Error(L"ZipExtract: " + Widen(error));
  return false;
}

std::optional<std::uint64_t> ZipUnpackedSize(const fs::path& archive) {
  FileByteSource source;
  if (!source.Open(archive)) return std::nullopt;
  ZipReader reader(source);
  std::string error;
  if (!reader.ReadDirectory(error)) return std::nullopt;
  std::uint64_t total = 0;
  for (const ZipEntry& entry : reader.entries()) total += entry.size;
  return total;
}
