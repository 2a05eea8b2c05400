// libFuzzer target: any byte string is read as a manifest or refused (the JSON reader takes it
// first, so this fuzzes both); a refusal leaves the manifest exactly as it was, and nothing crashes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "data/manifest.h"
#include "data/manifest_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Manifest m;
  m.launcher_version = "sentinel";
  m.wow_client = {"u", 42, "", ""};
  m.game_files.resize(1);
  const std::string before = ManifestJson(m);
  std::string error;
  if (!ParseManifest(std::string(reinterpret_cast<const char*>(data), size), m, error) && ManifestJson(m) != before)
    std::abort();
  return 0;
}
