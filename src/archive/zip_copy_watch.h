// Telling when a copy of an archive's entries into a folder, made by someone
// else (the Windows shell copies asynchronously and says nothing when it is
// done), has finished.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/zip_extract.h"

class ZipCopyWatch {
 public:
  ZipCopyWatch(std::filesystem::path destination, const std::vector<ZipExtractionItem>& items);

  // Call at intervals while the copy runs. True once every folder exists and
  // every file has its entry's size, nothing changed since the previous call,
  // and each file's content matches its entry's CRC-32. A file whose content
  // matched is not read again unless its size or time changes.
  bool Poll();

  // What is still missing or wrong after the last Poll, for the log.
  const std::string& pending() const { return pending_; }

 private:
  struct FileState {
    bool present = false;
    std::uint64_t size = 0;
    std::filesystem::file_time_type written{};
    bool operator==(const FileState& o) const { return present == o.present && size == o.size && written == o.written; }
  };

  std::filesystem::path destination_;
  std::vector<ZipExtractionItem> items_;  // one per path: the last entry wins
  std::vector<FileState> last_;
  std::vector<bool> verified_;
  std::vector<FileState> verified_at_;
  std::string pending_;
};

// How long to give the shell's copy of an archive before calling it failed:
// a base allowance plus time in proportion to the bytes and entries.
std::chrono::milliseconds ShellCopyTimeLimit(std::uint64_t total_bytes, std::size_t entry_count);
