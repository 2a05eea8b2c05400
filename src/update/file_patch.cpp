#include "update/file_patch.h"

#include <memory>

#include "base/text.h"
#include "delta/patch_apply.h"
#include "net/file_check.h"
#include "net/md5.h"
#include "net/sha256.h"
#include "net/stream_digests.h"

bool PlanFilePatch(FetchBackend& backend, const FetchItem& item, const PatchStop& stop, FilePatch& patch,
                   std::string& why) {
  const BlockMapRef& ref = item.block_map;
  const auto bound = static_cast<std::int64_t>(BlockMapBoundFor(static_cast<std::uint64_t>(item.size)));
  if (ref.size <= 0 || ref.size > bound) {
    why = "its size " + std::to_string(ref.size) + " is not within 1 to " + std::to_string(bound) + " bytes";
    return false;
  }
  const HttpResponse reply = backend.GetBytes(Widen(ref.url), static_cast<std::uint64_t>(ref.size));
  if (!reply.ok) {
    why = "HTTP " + std::to_string(reply.status) + (reply.error.empty() ? "" : ": " + reply.error);
    return false;
  }
  if (reply.body.size() != static_cast<std::size_t>(ref.size)) {
    why = "it has " + std::to_string(reply.body.size()) + " bytes, not " + std::to_string(ref.size);
    return false;
  }
  if ((!ref.md5.empty() && !SameMd5(Md5Hex(reply.body), ref.md5)) ||
      (!ref.sha256.empty() && !SameDigest(Sha256Hex(reply.body), ref.sha256))) {
    why = "it does not match its digests";
    return false;
  }
  if (!ReadBlockMap(reply.body, {static_cast<std::uint64_t>(item.size), item.md5, item.sha256}, patch.map, why)) {
    return false;
  }
  patch.map_bytes = ref.size;
  const std::unique_ptr<ByteSource> old_file = backend.OpenForReading(item.path);
  if (!old_file) {
    why = "the old file cannot be opened";
    return false;
  }
  return PlanPatch(patch.map, *old_file, patch.plan, why, [&stop](std::uint64_t) { return !stop(); });
}

bool ApplyFilePatch(FetchBackend& backend, const FetchItem& item, const FilePatch& patch, const std::wstring& part_path,
                    PartFile& part, DigestBuffer& buffer, const PatchStop& stop, FileCheckResult& check,
                    std::string& why, DownloadResult& write_failure) {
  const std::unique_ptr<ByteSource> old_file = backend.OpenForReading(item.path);
  const std::unique_ptr<ByteSource> fetched = backend.OpenForReading(part_path);
  if (!old_file || !fetched) {
    why = std::string("the ") + (old_file ? "part" : "old") + " file cannot be opened";
    return false;
  }
  PatchReader reader(patch.map, patch.plan, *old_file, *fetched);
  if (!reader.Why().empty()) {
    why = reader.Why();
    return false;
  }
  std::uint64_t offset = 0;
  bool write_failed = false;
  // The digests pull the new file through the reader; the copies are written on their way.
  const ReadPiece read = [&](unsigned char* into, std::size_t size) -> std::size_t {
    bool in_place = false;
    const std::size_t got = reader.Read(into, size, in_place);
    if (got > 0 && !in_place &&
        !part.WriteAt(static_cast<std::int64_t>(offset), reinterpret_cast<const char*>(into), got, write_failure)) {
      write_failed = true;
      return 0;
    }
    offset += got;
    return got;
  };
  const std::optional<FileDigests> digests = DigestStream(read, !item.md5.empty(), !item.sha256.empty(), buffer, stop);
  if (!digests) {
    why = "stopped";
    return false;
  }
  if (write_failed) {
    why = write_failure.error;
    return false;
  }
  if (offset != patch.map.file_size) {
    why = reader.Why().empty() ? "the patched file came out short" : reader.Why();
    return false;
  }
  check = DecideFileCheck(true, static_cast<std::int64_t>(offset), item.size, item.md5, item.sha256,
                          [&digests](bool, bool) { return digests; })
              .value_or(FileMd5Mismatch);
  return true;
}
