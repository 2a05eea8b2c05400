// Writing the manifest document that ParseManifest reads: what the realm's
// manifest generator publishes.
#pragma once

#include <string>

#include "data/manifest.h"

// The manifest as JSON with a fixed key order, one game file per line.
// Members that would only repeat the reader's defaults are left out: the
// launcher fields when there is no launcher_version, the SHA-256 members
// when empty, "config" without a realm list or name, "wow_client" without a
// url, "required" when true, "extract_to" when empty, "block_map" without a
// url. Texts are written byte for byte with only '"' and '\' escaped; the
// launcher's reader decodes no \u escapes, so texts meant to read back the
// same must be printable ASCII (the generator checks that).
std::string ManifestJson(const Manifest& manifest);
