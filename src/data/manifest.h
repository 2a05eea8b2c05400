// The update server's description of the installation: the current launcher
// build, the full client download and the client files to keep in step.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// All texts hold the document's bytes as received; readers widen them when
// they need wide text.
struct ClientPackage {
  std::string url;  // empty: no client download is offered
  std::int64_t size = 0;
  std::string md5;
  std::string dir_name;
};

// A big file's block map (see delta/block_map.h): what lets a launcher patch
// its old copy of the file, fetching only the blocks that changed.
struct BlockMapRef {
  std::string url;  // relative to the entry's cdn_url, or absolute; empty: no map
  std::int64_t size = 0;
  std::string md5;     // lower-case hex
  std::string sha256;  // lower-case hex
};

struct GameFile {
  std::string path;       // relative to the client folder, "/" or "\" separated
  std::int64_t size = 0;  // 0 or less: size not checked
  std::string md5;        // lower-case hex; empty: digest not checked
  std::string cdn_url;
  bool required = true;
  std::string extract_to;  // folder to unpack the file into; empty for a plain file
  std::string sha256;      // hex; empty: not checked (checked in addition to md5)
  BlockMapRef block_map;   // "block_map"; launchers that predate it ignore the key
};

struct Manifest {
  std::string launcher_version;  // "major.minor.patch"; empty: no self-update check
  std::string launcher_url;
  std::string launcher_md5;
  std::string launcher_sha256;  // empty: not checked
  std::string realmList;
  std::string realmName;
  ClientPackage wow_client;
  std::vector<GameFile> game_files;
};

// Reads the JSON `text` into `manifest`. Missing or mistyped members read as
// empty or 0; "config" and "wow_client" replace their fields only when the
// document carries them. On false `error` holds the reason and `manifest` is
// exactly as it was.
bool ParseManifest(const std::string& text, Manifest& manifest, std::string& error);
