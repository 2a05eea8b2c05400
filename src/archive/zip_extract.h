// Unpacking a ZIP archive into a folder with the built-in reader, for where
// the system's own tools are missing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "archive/zip_reader.h"

// One entry of an archive as it will appear below the destination folder.
struct ZipExtractionItem {
  std::size_t entry_index = 0;     // into ZipReader::entries()
  std::filesystem::path relative;  // below the destination; never empty
  bool is_directory = false;
  std::uint64_t size = 0;
  std::uint32_t crc32 = 0;
};

// Checks every entry's name before anything is written: it must stay inside
// the destination (see ZipEntryPathParts). Entries that name the destination
// itself ("./") are left out. False with the first offending entry and the
// reason in `error`.
bool PlanZipExtraction(const std::vector<ZipEntry>& entries, std::vector<ZipExtractionItem>& items, std::string& error);

// Unpacks `archive` into the existing folder `destination`. Archives with
// encrypted entries or compression other than stored and deflated are
// refused before anything is written. Folders are made as needed and files already there are replaced, each only after
// its data has been checked in full. A refused or corrupt archive writes nothing outside the destination; entries
// before a corrupt one may already be written. Logs what it does; false with the reason in `error`.
bool ExtractZipArchive(const std::filesystem::path& archive, const std::filesystem::path& destination,
                       std::string& error);

// The bytes `archive`'s entries take when unpacked, from its central
// directory; nothing when it cannot be read as a ZIP archive.
std::optional<std::uint64_t> ZipUnpackedSize(const std::filesystem::path& archive);
