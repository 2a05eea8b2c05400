#include "update/verified_record.h"

#include <cstring>
#include <utility>

#include "archive/crc32.h"
#include "base/hex.h"
#include "data/manifest_path.h"

namespace {

constexpr char kMagic[4] = {'O', 'S', 'V', 'R'};
constexpr std::uint32_t kVersion = 1;
constexpr std::uint8_t kHasMd5 = 1, kHasSha256 = 2;
constexpr size_t kMd5Bytes = 16;
constexpr size_t kMaxKeyBytes = 1024;
constexpr std::int64_t kMaxFileSize = std::int64_t{1} << 48;  // far beyond any game file
// The smallest entry: a one-byte key, the identity, the flags and an MD5.
constexpr size_t kMinEntryBytes = 2 + 1 + 32 + 1 + kMd5Bytes;

void PutLe(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

template <size_t N>
bool Same(const std::string& hex, const std::array<unsigned char, N>& bytes) {
  std::array<unsigned char, N> given{};
  return BytesFromHex(hex, given) && given == bytes;
}

// Reads little-endian fields from the front of a byte range; any read past
// its end sets `failed` and gives zeros.
class Reader {
 public:
  Reader(const std::string& bytes, size_t end) : bytes_(bytes), end_(end) {}

  std::uint64_t Le(int count) {
    if (!Has(static_cast<size_t>(count))) return 0;
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i) value |= std::uint64_t{static_cast<unsigned char>(bytes_[at_ + i])} << (8 * i);
    at_ += static_cast<size_t>(count);
    return value;
  }
  std::string Bytes(size_t count) {
    if (!Has(count)) return std::string();
    at_ += count;
    return bytes_.substr(at_ - count, count);
  }
  template <size_t N>
  void Array(std::array<unsigned char, N>& bytes) {
    if (!Has(N)) return;
    std::memcpy(bytes.data(), bytes_.data() + at_, N);
    at_ += N;
  }
  size_t Left() const { return end_ - at_; }
  bool failed = false;

 private:
  bool Has(size_t count) {
    if (count > Left()) failed = true;
    return !failed;
  }
  const std::string& bytes_;
  const size_t end_;
  size_t at_ = 0;
};

bool ReadFile(Reader& in, VerifiedFile& file) {
  const size_t key_bytes = static_cast<size_t>(in.Le(2));
  file.key = in.Bytes(key_bytes);
  file.identity.size = static_cast<std::int64_t>(in.Le(8));
  file.identity.last_write = in.Le(8);
  file.identity.change = in.Le(8);
  file.identity.file_id = in.Le(8);
  const auto flags = static_cast<std::uint8_t>(in.Le(1));
  file.has_md5 = (flags & kHasMd5) != 0;
  file.has_sha256 = (flags & kHasSha256) != 0;
  if (file.has_md5) in.Array(file.md5);
  if (file.has_sha256) in.Array(file.sha256);
  // Only a key the launcher itself could have written: a normalised safe path.
  return !in.failed && flags >= 1 && flags <= 3 && key_bytes <= kMaxKeyBytes && IsSafeManifestPath(file.key) &&
         ManifestPathKey(file.key) == file.key && file.identity.size >= 0 && file.identity.size <= kMaxFileSize;
}

}  // namespace

void SetDigests(VerifiedFile& file, const std::string& md5, const std::string& sha256) {
  file.has_md5 = BytesFromHex(md5, file.md5);
  file.has_sha256 = BytesFromHex(sha256, file.sha256);
}

bool MatchedDigests(const VerifiedFile& file, const std::string& md5, const std::string& sha256) {
  return (md5.empty() || (file.has_md5 && Same(md5, file.md5))) &&
         (sha256.empty() || (file.has_sha256 && Same(sha256, file.sha256)));
}

bool OtherDigests(const VerifiedFile& file, const std::string& md5, const std::string& sha256) {
  return (!md5.empty() && file.has_md5 && !Same(md5, file.md5)) ||
         (!sha256.empty() && file.has_sha256 && !Same(sha256, file.sha256));
}

RecordWriter::RecordWriter(const FolderIdentity& folder, std::uint64_t taken_at) : out_(kMagic, sizeof kMagic) {
  PutLe(out_, kVersion, 4);
  PutLe(out_, taken_at, 8);
  PutLe(out_, folder.volume, 8);
  PutLe(out_, folder.file_id, 8);
  PutLe(out_, folder.path.size(), 4);
  for (wchar_t c : folder.path) PutLe(out_, static_cast<std::uint16_t>(c), 2);
  count_at_ = out_.size();
  PutLe(out_, 0, 4);
}

void RecordWriter::Add(const VerifiedFile& file) {
  if (!file.has_md5 && !file.has_sha256) return;
  ++count_;
  PutLe(out_, file.key.size(), 2);
  out_ += file.key;
  PutLe(out_, static_cast<std::uint64_t>(file.identity.size), 8);
  PutLe(out_, file.identity.last_write, 8);
  PutLe(out_, file.identity.change, 8);
  PutLe(out_, file.identity.file_id, 8);
  out_.push_back(static_cast<char>((file.has_md5 ? kHasMd5 : 0) | (file.has_sha256 ? kHasSha256 : 0)));
  if (file.has_md5) out_.append(reinterpret_cast<const char*>(file.md5.data()), file.md5.size());
  if (file.has_sha256) out_.append(reinterpret_cast<const char*>(file.sha256.data()), file.sha256.size());
}

std::string RecordWriter::Finish() {
  for (int i = 0; i < 4; ++i) out_[count_at_ + i] = static_cast<char>((count_ >> (8 * i)) & 0xFF);
  PutLe(out_, Crc32Update(0, reinterpret_cast<const std::uint8_t*>(out_.data()), out_.size()), 4);
  return std::move(out_);
}

std::string SerializeRecord(const VerifiedRecord& record) {
  RecordWriter writer(record.folder, record.taken_at);
  for (const VerifiedFile& file : record.files) writer.Add(file);
  return writer.Finish();
}

bool ParseRecord(const std::string& bytes, VerifiedRecord& record, std::string& why) {
  record = VerifiedRecord{};
  why = "damaged";
  if (bytes.size() < 12 || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) return false;
  Reader in(bytes, bytes.size() - 4);
  in.Bytes(sizeof kMagic);
  if (const std::uint64_t version = in.Le(4); version != kVersion) {
    why = "unknown format version " + std::to_string(version);
    return false;
  }
  Reader crc(bytes, bytes.size());
  crc.Bytes(bytes.size() - 4);
  if (crc.Le(4) != Crc32Update(0, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size() - 4)) return false;

  record.taken_at = in.Le(8);
  record.folder.volume = in.Le(8);
  record.folder.file_id = in.Le(8);
  const std::uint64_t path_units = in.Le(4);
  if (path_units > in.Left() / 2) return false;
  for (std::uint64_t i = 0; i < path_units; ++i) record.folder.path.push_back(static_cast<wchar_t>(in.Le(2)));
  const std::uint64_t count = in.Le(4);
  if (in.failed || count > in.Left() / kMinEntryBytes) return false;  // no allocation beyond the bytes at hand
  record.files.resize(static_cast<size_t>(count));
  for (size_t i = 0; i < record.files.size(); ++i) {
    if (!ReadFile(in, record.files[i])) return false;
    if (i > 0 && !(record.files[i - 1].key < record.files[i].key)) return false;  // sorted, no key twice
  }
  return !in.failed && in.Left() == 0;
}
