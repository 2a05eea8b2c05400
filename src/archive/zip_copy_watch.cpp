#include "archive/zip_copy_watch.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <system_error>
#include <utility>

#include "archive/crc32.h"
#include "archive/path_text.h"
#include "base/text.h"

namespace fs = std::filesystem;

namespace {

// Windows file names ignore case, so two entries differing only in case are
// one file, written by the later entry.
std::wstring FoldedKey(const fs::path& path) {
  std::wstring key = PathToWide(path);
  for (auto& c : key) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return key;
}

bool FileCrcMatches(const fs::path& path, std::uint32_t expected) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<char> buffer(256 * 1024);
  std::uint32_t crc = 0;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const std::streamsize got = in.gcount();
    if (got <= 0) break;
    crc = Crc32Update(crc, reinterpret_cast<const std::uint8_t*>(buffer.data()), static_cast<std::size_t>(got));
  }
  return !in.bad() && crc == expected;
}

}  // namespace

ZipCopyWatch::ZipCopyWatch(fs::path destination, const std::vector<ZipExtractionItem>& items)
    : destination_(std::move(destination)) {
  std::map<std::wstring, std::size_t> index_by_key;
  for (const auto& item : items) {
    const auto [it, inserted] = index_by_key.emplace(FoldedKey(item.relative), items_.size());
    if (inserted) {
      items_.push_back(item);
    } else {
      items_[it->second] = item;
    }
  }
  verified_.assign(items_.size(), false);
  verified_at_.resize(items_.size());
}

bool ZipCopyWatch::Poll() {
  std::vector<FileState> now(items_.size());
  pending_.clear();
  bool sizes_ok = true;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const ZipExtractionItem& item = items_[i];
    const fs::path path = destination_ / item.relative;
    std::error_code ec;
    FileState& state = now[i];
    if (item.is_directory) {
      state.present = fs::is_directory(path, ec);
    } else if (fs::is_regular_file(path, ec)) {
      const auto size = fs::file_size(path, ec);
      state.present = !ec;
      state.size = ec ? 0 : size;
      state.written = fs::last_write_time(path, ec);
    }
    const bool ok = state.present && (item.is_directory || state.size == item.size);
    if (!ok && sizes_ok) {
      sizes_ok = false;
      pending_ = NarrowLowBytes(PathToWide(item.relative)) + (state.present ? " (incomplete)" : " (missing)");
    }
  }
  const bool unchanged = now == last_;
  last_ = now;
  if (!sizes_ok) return false;
  if (!unchanged) {
    pending_ = "files still changing";
    return false;
  }
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const ZipExtractionItem& item = items_[i];
    if (item.is_directory || (verified_[i] && verified_at_[i] == now[i])) continue;
    verified_[i] = FileCrcMatches(destination_ / item.relative, item.crc32);
    verified_at_[i] = now[i];
    if (!verified_[i]) {
      pending_ = NarrowLowBytes(PathToWide(item.relative)) + " (content differs from the archive)";
      return false;
    }
  }
  return true;
}

std::chrono::milliseconds ShellCopyTimeLimit(std::uint64_t total_bytes, std::size_t entry_count) {
  // The shell's ZIP folder copies at a few MB/s at worst, with some cost per file.
  constexpr std::uint64_t kBase = 15000;
  constexpr std::uint64_t kBytesPerMs = 2 * 1024;  // 2 MiB/s
  constexpr std::uint64_t kPerEntry = 25;
  const std::uint64_t ms = kBase + total_bytes / kBytesPerMs + entry_count * kPerEntry;
  return std::chrono::milliseconds(static_cast<std::chrono::milliseconds::rep>(ms));
}
