// Optional addons: the manifest entries that unpack somewhere (the addon
// rule), whether each is present in the client folder, and what one Apply of
// the addons dialog removes and installs.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "data/manifest.h"

struct AddonEntry {
  std::string name;  // the path's last part without ".zip"; also the folder below Interface\AddOns
  bool installed = false;
  GameFile game_file;
};

// The part of `path` after its last '/', less a trailing ".zip" when longer than that.
std::string AddonName(const std::string& path);

// wow_dir\path less a trailing ".zip": the folder whose presence counts as installed.
std::wstring AddonPresencePath(const std::wstring& wow_dir, const std::string& path);
// wow_dir\Interface\AddOns\name: the folder a removal deletes.
std::wstring AddonFolderPath(const std::wstring& wow_dir, const std::string& name);

// A name that stands for exactly one folder inside Interface\AddOns: not
// empty, ".", "..", nor holding a separator, ':' or anything else Windows
// refuses in a file name (the ZIP entry rules, applied to one part).
bool IsSafeAddonName(const std::string& name);

// Every game file with a non-empty extract_to, in manifest order. `exists`
// answers the presence test; entries whose path could point outside the client
// folder are never probed and count as not installed.
std::vector<AddonEntry> ListAddons(const Manifest& manifest, const std::wstring& wow_dir,
                                   const std::function<bool(const std::wstring&)>& exists);

struct AddonFileOps {
  // Removes a folder and everything in it; a missing folder counts as removed.
  std::function<bool(const std::wstring& folder)> remove_folder;
  // Deletes one file; failures are ignored.
  std::function<void(const std::wstring& file)> delete_file;
};

// Carries out the player's choices (one flag per entry): removes each
// unticked installed addon (logging the outcome) and deletes its archive;
// deletes the archive of each newly ticked one so the update run fetches and
// unpacks it afresh. Returns the game files to install, in list order. An
// unsafe name is never removed, and an archive path that could point outside
// the client folder is never deleted.
std::vector<GameFile> ApplyAddonChoices(const std::wstring& wow_dir, const std::vector<AddonEntry>& entries,
                                        const std::vector<bool>& selected, const AddonFileOps& files);

// Windows build: removes `folder` and its content depth-first. A junction or
// symbolic link is removed itself and never followed, so nothing outside the
// folder is touched. True when the folder is gone (or never was).
bool RemoveFolderTree(const std::wstring& folder);
