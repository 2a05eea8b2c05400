#include "update/file_patch.h"

#include <memory>

#include "base/text.h"
#include "delta/patch_apply.h"
#include "net/file_check.h"
#include "net/md5.h"
#include "net/sha256.h"

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
                    PartFile& part, const PatchStop& stop, std::string& why, DownloadResult& write_failure) {
  const std::unique_ptr<ByteSource> old_file = backend.OpenForReading(item.path);
  const std::unique_ptr<ByteSource> fetched = backend.OpenForReading(part_path);
  if (!old_file || !fetched) {
    why = std::string("the ") + (old_file ? "part" : "old") + " file cannot be opened";
    return false;
  }
  const PatchOutput output = [&](std::uint64_t offset, const std::uint8_t* data, std::size_t size, bool in_place) {
    if (stop()) return false;
    return in_place ||
           part.WriteAt(static_cast<std::int64_t>(offset), reinterpret_cast<const char*>(data), size, write_failure);
  };
  if (ApplyPatch(patch.map, patch.plan, *old_file, *fetched, output, why)) return true;
  if (write_failure.failure != DownloadFailure::None) why = write_failure.error;
  return false;
}
