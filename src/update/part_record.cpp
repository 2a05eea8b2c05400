#include "update/part_record.h"

#include <cstdio>
#include <vector>

#include "archive/crc32.h"

namespace {

constexpr const char* kFirstLine = "ostrel-part 1";

std::uint32_t Crc(const std::string& bytes) {
  return Crc32Update(0, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

std::string CrcLine(const std::string& before) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(Crc(before)));
  return std::string("crc32 ") + hex + "\r\n";
}

// A decimal count without sign or leading zero (so that each number has one form), below 10^18.
bool ReadCount(const std::string& text, std::int64_t& value) {
  if (text.empty() || text.size() > 18 || (text[0] == '0' && text.size() > 1)) return false;
  std::int64_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + (c - '0');
  }
  value = result;
  return true;
}

// Splits `text` into lines ended by CR LF; false when the last one has no ending.
bool Lines(const std::string& text, std::vector<std::string>& lines) {
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find("\r\n", at);
    if (end == std::string::npos) return false;
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return true;
}

// "<key> <value>": the value, when the line has that key.
bool Field(const std::string& line, const std::string& key, std::string& value) {
  if (line.compare(0, key.size() + 1, key + " ") != 0) return false;
  value = line.substr(key.size() + 1);
  return true;
}

bool IsDigestText(const std::string& text) {
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
  }
  return text.size() <= 64;
}

}  // namespace

std::string PartRecordText(const PartRecord& record) {
  std::string text = std::string(kFirstLine) + "\r\nsize " + std::to_string(record.size) + "\r\nmd5 " + record.md5 +
                     "\r\nsha256 " + record.sha256 + "\r\n";
  for (const ByteRange& r : record.held.Ranges()) {
    text += "held " + std::to_string(r.first) + " " + std::to_string(r.end) + "\r\n";
  }
  return text + CrcLine(text);
}

bool ParsePartRecord(const std::string& text, PartRecord& record, std::string& why) {
  std::vector<std::string> lines;
  std::string value;
  if (!Lines(text, lines) || lines.size() < 5 || lines[0] != kFirstLine) {
    why = "not a part record";
    return false;
  }
  const std::string& last = lines.back();
  if (text.size() < last.size() + 2 || CrcLine(text.substr(0, text.size() - last.size() - 2)) != last + "\r\n") {
    why = "damaged (its CRC does not match)";
    return false;
  }
  PartRecord read;
  if (!Field(lines[1], "size", value) || !ReadCount(value, read.size) || !Field(lines[2], "md5", read.md5) ||
      !IsDigestText(read.md5) || !Field(lines[3], "sha256", read.sha256) || !IsDigestText(read.sha256)) {
    why = "unreadable header";
    return false;
  }
  std::int64_t at = 0;
  for (size_t i = 4; i + 1 < lines.size(); ++i) {
    const size_t blank = lines[i].find(' ', 5);
    ByteRange r;
    if (!Field(lines[i], "held", value) || blank == std::string::npos ||
        !ReadCount(lines[i].substr(5, blank - 5), r.first) || !ReadCount(lines[i].substr(blank + 1), r.end) ||
        r.first >= r.end || r.end > read.size || (i > 4 && r.first <= at)) {
      why = "unreadable range on line " + std::to_string(i + 1);
      return false;
    }
    read.held.Add(r.first, r.end);
    at = r.end;
  }
  record = read;
  return true;
}

ByteRanges TrustedPartBytes(const std::string& text, std::int64_t size, const std::string& md5,
                            const std::string& sha256, std::int64_t part_size, std::string& why) {
  PartRecord record;
  if (!ParsePartRecord(text, record, why)) return {};
  if (record.size != size || record.md5 != md5 || record.sha256 != sha256) {
    why = "it is for other bytes than the manifest names";
    return {};
  }
  if (part_size > size) {
    why = "the part is longer than the file";
    return {};
  }
  record.held.ClipTo(part_size);
  return record.held;
}
