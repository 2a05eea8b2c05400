// libFuzzer target: any byte string is read as a manifest or refused; a
// refusal leaves the manifest exactly as it was, and nothing crashes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "data/manifest.h"
#include "data/manifest_writer.h"

namespace {

Manifest Sentinel() {
  Manifest m;
  m.launcher_version = "sentinel";
  m.launcher_md5 = "md5";
  m.realmList = "realm";
  m.wow_client = {"u", 42, "", ""};
  m.game_files.resize(1);
  m.game_files[0].path = "p";
  return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Manifest m = Sentinel();
  std::string error;
  if (!ParseManifest(std::string(reinterpret_cast<const char*>(data), size), m, error) &&
      ManifestJson(m) != ManifestJson(Sentinel())) {
    std::abort();
  }
  return 0;
}
