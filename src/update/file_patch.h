// Patching a changed file from the old copy on disk, for a fetch whose item
// names a block map (delta/): the map is fetched and checked, the old file
// matched against it, and once the fetch has put the plan's fetched stretches
// into the part file at their offsets, the rest is copied in from the old file. The old file is only
// read; it keeps its name until the part, verified, is moved over it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "delta/block_map.h"
#include "delta/patch_plan.h"
#include "net/file_digest.h"
#include "update/file_fetch.h"

struct FilePatch {
  BlockMap map;
  PatchPlan plan;
  std::int64_t map_bytes = 0;  // fetched for the map
};

// Asked now and then during the long steps; true stops them.
using PatchStop = std::function<bool()>;

// Fetches the block map `item` names (refused unread above its bound), checks
// it against the entry's digests and reads it, then matches the old file at
// `item.path` against it. False with the reason in `why`.
bool PlanFilePatch(FetchBackend& backend, const FetchItem& item, const PatchStop& stop, FilePatch& patch,
                   std::string& why);

// Writes the copies of `patch` from the old file into `part`, the part file at
// `part_path`, which holds every fetched stretch already, checking every block
// against the map on its way, and takes the new file's digests in the same
// read (through `buffer`): `check` is then the file's check against the
// entry, so the part is never read a second time. False with the reason in
// `why` when the patch cannot be applied or `stop` said yes; a write that
// failed (a full disk) is also in `write_failure`, as a download's would be.
bool ApplyFilePatch(FetchBackend& backend, const FetchItem& item, const FilePatch& patch, const std::wstring& part_path,
                    PartFile& part, DigestBuffer& buffer, const PatchStop& stop, FileCheckResult& check,
                    std::string& why, DownloadResult& write_failure);
