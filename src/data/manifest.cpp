#include "data/manifest.h"

#include <exception>
#include <utility>

#include "data/json.h"
#include "data/json_number.h"

namespace {

// A member that is not a string (or is missing) reads as empty, one that is
// not a number as 0: JsonValue keeps only the field of its own kind filled.
const std::string& TextOf(const JsonValue& object, const char* key) { return object.Get(key).text; }
std::int64_t SizeOf(const JsonValue& object, const char* key) { return TruncateToInt64(object.Get(key).number); }

GameFile ReadGameFile(const JsonValue& element) {
  GameFile file;
  file.path = TextOf(element, "path");
  file.size = SizeOf(element, "size");
  file.md5 = TextOf(element, "md5");
  file.cdn_url = TextOf(element, "cdn_url");
  // Absent (or null) means required; any other non-boolean value means not.
  const JsonValue& required = element.Get("required");
  file.required = required.kind == JsonKind::Null || required.boolean;
  file.extract_to = TextOf(element, "extract_to");
  file.sha256 = TextOf(element, "sha256");
  const JsonValue& map = element.Get("block_map");
  file.block_map = {TextOf(map, "url"), SizeOf(map, "size"), TextOf(map, "md5"), TextOf(map, "sha256")};
  return file;
}

void ReadInto(const JsonValue& root, Manifest& out) {
  out.launcher_version = TextOf(root, "launcher_version");
  out.launcher_url = TextOf(root, "launcher_url");
  out.launcher_md5 = TextOf(root, "launcher_md5");
  out.launcher_sha256 = TextOf(root, "launcher_sha256");

  // A present value of another kind than object counts as an empty object.
  const JsonValue& config = root.Get("config");
  if (config.kind != JsonKind::Null) {
    out.realmList = TextOf(config, "realmList");
    out.realmName = TextOf(config, "realmName");
  }

  const JsonValue& client = root.Get("wow_client");
  if (client.kind != JsonKind::Null) {
    out.wow_client.url = TextOf(client, "url");
    out.wow_client.size = SizeOf(client, "size");
    out.wow_client.md5 = TextOf(client, "md5");
    out.wow_client.dir_name = TextOf(client, "dir_name");
  }

  out.game_files.clear();
  const JsonValue& files = root.Get("game_files");
  if (files.kind == JsonKind::Array) {
    out.game_files.reserve(files.items.size());
    for (const JsonValue& element : files.items) out.game_files.push_back(ReadGameFile(element));
  }
}

}  // namespace

bool ParseManifest(const std::string& text, Manifest& manifest, std::string& error) {
  try {
    const JsonValue root = ParseJson(text);
    if (root.kind != JsonKind::Object) {
      error = "Manifest root is not object";
      return false;
    }
    // Read into a copy so that a failure part-way (out of memory) leaves the
    // caller's manifest whole.
    Manifest updated = manifest;
    ReadInto(root, updated);
    manifest = std::move(updated);
    return true;
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
}
