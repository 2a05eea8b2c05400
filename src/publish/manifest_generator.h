// The realm's manifest generator: turns a folder laid out like the client
// (the realm's files), the launcher build, the client package and the realm
// settings into the manifest document, writes a block map beside every big
// file, and refuses whatever the launcher would refuse or stumble over. tools/manifest-generator is its command line; it
// builds on Linux and as a Windows program.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "data/manifest.h"

// Runs the generator with its command-line arguments (program name left out),
// UTF-8 encoded. Results go to `out`, refusals and usage errors to `err`.
// Returns the exit code: 0 done, 1 refused (every reason is printed), 2 wrong
// usage.
int RunManifestGenerator(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Every reason the launcher would refuse or stumble over `manifest`, each
// naming its entry; empty when there is none. Beyond the launcher's own path
// rule: texts that would not read back byte for byte, two entries naming one
// file, negative sizes, malformed digests, versions and addresses, block map
// entries the launcher could not fetch, bound or verify.
std::vector<std::string> ManifestProblems(const Manifest& manifest);

// The generator's usage text (--help).
std::string ManifestGeneratorUsage();
