// Verifies a client folder against a manifest the way the launcher does (the
// real update run: file checks with MD5 over every file) and prints the time.
//   verify_bench <manifest.json> <client folder>
// Prints "verify_seconds=<s> files=<n> result=<Done|Error...>".
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "data/manifest.h"
#include "update/updater.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: verify_bench <manifest.json> <client folder>\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Manifest manifest;
  std::string error;
  if (!ParseManifest(text, manifest, error)) {
    std::fprintf(stderr, "manifest: %s\n", error.c_str());
    return 1;
  }

  UpdaterProgress last;
  int downloads = 0;
  auto updater = std::make_shared<Updater>(argv[2], MakeSystemUpdaterBackend());
  const auto start = std::chrono::steady_clock::now();
  updater->Run(manifest, [&](const UpdaterProgress& p) {
    last = p;
    if (p.phase == UpdaterPhase::Downloading) ++downloads;
  });
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::printf("verify_seconds=%.3f files=%zu downloads=%d result=%s\n", seconds, manifest.game_files.size(), downloads,
              last.phase == UpdaterPhase::Done ? "Done" : ("Error: " + last.error).c_str());
  return last.phase == UpdaterPhase::Done && downloads == 0 ? 0 : 1;
}
