// libFuzzer target: any byte string is read as a manifest or refused; a
// refusal leaves the manifest exactly as it was, and nothing crashes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "data/manifest.h"

namespace {

Manifest Sentinel() {
  Manifest m;
  m.launcher_version = "sentinel";
  m.realmList = "realm";
  m.wow_client.size = 42;
  m.game_files.resize(1);
  m.game_files[0].path = "p";
  return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Manifest m = Sentinel();
  std::string error;
  const bool ok = ParseManifest(std::string(reinterpret_cast<const char*>(data), size), m, error);
  if (!ok) {
    const Manifest s = Sentinel();
    if (m.launcher_version != s.launcher_version || m.realmList != s.realmList ||
        m.wow_client.size != s.wow_client.size || m.game_files.size() != 1 || m.game_files[0].path != "p") {
      std::abort();
    }
  }
  return 0;
}
