#include "update/unpack_marks.h"

#include <algorithm>
#include <charconv>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

#include "base/text.h"
#include "log/log.h"

namespace {

constexpr std::size_t kMaxMarksBytes = 1 << 20;  // a few thousand marks; a bigger file is not ours

// Guards every mark file of the process, and the archives being unpacked now.
std::mutex marks_mutex;
std::multiset<std::wstring>& InHand() {
  static std::multiset<std::wstring> archives;  // ArchiveKey of each unpack in hand
  return archives;
}

std::wstring ArchiveKey(const std::wstring& path) {
  std::wstring key = path;
  for (wchar_t& c : key) c = (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
  return key;
}

std::string Lower(std::string text) {
  for (char& c : text) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return text;
}

// Drops the marks of the archive of key `key`; true when there was one.
bool Drop(std::vector<UnpackMark>& marks, const std::wstring& key) {
  const auto kept =
      std::remove_if(marks.begin(), marks.end(), [&key](const UnpackMark& m) { return ArchiveKey(m.archive) == key; });
  const bool dropped = kept != marks.end();
  marks.erase(kept, marks.end());
  return dropped;
}

std::vector<std::string> Split(const std::string& line, char separator) {
  std::vector<std::string> parts(1);
  for (char c : line) {
    if (c == separator) {
      parts.emplace_back();
    } else {
      parts.back().push_back(c);
    }
  }
  return parts;
}

}  // namespace

std::wstring UnpackMarksPath(const std::wstring& launcher_folder) {
  return launcher_folder + L"\\launcher_cache\\unpacking.txt";
}

std::string UnpackMarksText(const std::vector<UnpackMark>& marks) {
  std::string text;
  for (const UnpackMark& m : marks) {
    text += Utf8FromWide(m.archive) + '\t' + Utf8FromWide(m.folder) + '\t' + std::to_string(m.size) + '\t' + m.md5 +
            '\t' + m.sha256 + "\r\n";
  }
  return text;
}

std::vector<UnpackMark> ParseUnpackMarks(const std::string& text) {
  std::vector<UnpackMark> marks;
  for (std::string& line : Split(text, '\n')) {
    if (line.empty() || line.back() != '\r') continue;  // the cut last line of a foreign file, or the end
    line.pop_back();
    const std::vector<std::string> f = Split(line, '\t');
    UnpackMark mark;
    if (f.size() != 5 || f[0].empty() || !WideFromUtf8(f[0], mark.archive) || !WideFromUtf8(f[1], mark.folder))
      continue;
    const auto [end, error] = std::from_chars(f[2].data(), f[2].data() + f[2].size(), mark.size);
    if (error != std::errc() || end != f[2].data() + f[2].size()) continue;
    mark.md5 = f[3];
    mark.sha256 = f[4];
    marks.push_back(std::move(mark));
  }
  return marks;
}

bool SamePath(const std::wstring& a, const std::wstring& b) { return ArchiveKey(a) == ArchiveKey(b); }

bool SameArchive(const UnpackMark& mark, const UnpackMark& other) {
  return SamePath(mark.archive, other.archive) && mark.size == other.size && Lower(mark.md5) == Lower(other.md5) &&
         Lower(mark.sha256) == Lower(other.sha256);
}

std::vector<UnpackMark> UnpackMarkFile::ReadLocked() {
  bool missing = false;
  const std::optional<std::string> text = files_.ReadSmallFile(path_, kMaxMarksBytes, missing);
  if (!text && !missing) Log::Warn(L"Cannot read the unpack marks: " + path_);
  return text ? ParseUnpackMarks(*text) : std::vector<UnpackMark>();
}

void UnpackMarkFile::ReplaceLocked(const std::vector<UnpackMark>& marks) {
  if (!files_.ReplaceSmallFile(path_, UnpackMarksText(marks))) Log::Warn(L"Cannot write the unpack marks: " + path_);
}

std::vector<UnpackMark> UnpackMarkFile::Unfinished() {
  std::lock_guard<std::mutex> lock(marks_mutex);
  std::vector<UnpackMark> marks = ReadLocked();
  marks.erase(std::remove_if(marks.begin(), marks.end(),
                             [](const UnpackMark& m) { return InHand().count(ArchiveKey(m.archive)) > 0; }),
              marks.end());
  return marks;
}

UnpackMarkFile::Unpacking::Unpacking(UnpackMarkFile* file, UnpackMark mark) : file_(file), mark_(std::move(mark)) {
  if (!file_) return;
  std::lock_guard<std::mutex> lock(marks_mutex);
  std::vector<UnpackMark> marks = file_->ReadLocked();
  Drop(marks, ArchiveKey(mark_.archive));
  marks.push_back(mark_);
  file_->ReplaceLocked(marks);
  InHand().insert(ArchiveKey(mark_.archive));
}

void UnpackMarkFile::ClearLocked(const UnpackMark& mark) {
  std::vector<UnpackMark> marks = ReadLocked();
  if (Drop(marks, ArchiveKey(mark.archive))) ReplaceLocked(marks);
}

void UnpackMarkFile::Clear(const UnpackMark& mark) {
  std::lock_guard<std::mutex> lock(marks_mutex);
  ClearLocked(mark);
}

void UnpackMarkFile::Unpacking::Finished() {
  if (!file_) return;
  std::lock_guard<std::mutex> lock(marks_mutex);
  file_->ClearLocked(mark_);
  InHand().erase(InHand().find(ArchiveKey(mark_.archive)));
  file_ = nullptr;
}

UnpackMarkFile::Unpacking::~Unpacking() {
  if (!file_) return;
  std::lock_guard<std::mutex> lock(marks_mutex);
  InHand().erase(InHand().find(ArchiveKey(mark_.archive)));
}
