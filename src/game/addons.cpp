#include "game/addons.h"

#include "archive/zip_entry_path.h"
#include "base/text.h"
#include "game/client_folder.h"
#include "log/log.h"
#include "update/updater.h"

namespace {

bool EndsWithZip(const std::string& text) { return text.size() > 4 && text.compare(text.size() - 4, 4, ".zip") == 0; }

}  // namespace

std::string AddonName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (EndsWithZip(name)) name.resize(name.size() - 4);
  return name;
}

std::wstring AddonPresencePath(const std::wstring& wow_dir, const std::string& path) {
  return ClientTargetPath(wow_dir, EndsWithZip(path) ? path.substr(0, path.size() - 4) : path);
}

std::wstring AddonFolderPath(const std::wstring& wow_dir, const std::string& name) {
  return ClientPath(wow_dir, std::wstring(ClientFolder::kAddonsFolder) + L"\\" + Widen(name));
}

bool IsSafeAddonName(const std::string& name) {
  std::vector<std::wstring> parts;
  std::string error;
  return ZipEntryPathParts(name, false, parts, error) && parts.size() == 1 && parts[0] == Widen(name);
}

std::vector<AddonEntry> ListAddons(const Manifest& manifest, const std::wstring& wow_dir,
                                   const std::function<bool(const std::wstring&)>& exists) {
  std::vector<AddonEntry> entries;
  for (const GameFile& file : manifest.game_files) {
    if (file.extract_to.empty()) continue;
    AddonEntry entry;
    entry.name = AddonName(file.path);
    entry.installed = IsSafeClientRelativePath(file.path) && exists(AddonPresencePath(wow_dir, file.path));
    entry.game_file = file;
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<GameFile> ApplyAddonChoices(const std::wstring& wow_dir, const std::vector<AddonEntry>& entries,
                                        const std::vector<bool>& selected, const AddonFileOps& files) {
  std::vector<GameFile> installs;
  for (size_t i = 0; i < entries.size() && i < selected.size(); ++i) {
    const AddonEntry& entry = entries[i];
    if (selected[i] == entry.installed) continue;
    const bool archive_safe = IsSafeClientRelativePath(entry.game_file.path);
    const std::wstring archive = ClientTargetPath(wow_dir, entry.game_file.path);
    if (selected[i]) {
      // A present archive that matches its digest would be skipped, not unpacked.
      if (archive_safe) files.delete_file(archive);
      installs.push_back(entry.game_file);
      continue;
    }
    const bool removed = IsSafeAddonName(entry.name) && files.remove_folder(AddonFolderPath(wow_dir, entry.name));
    if (archive_safe) files.delete_file(archive);
    if (removed) {
      Log::Info(L"Uninstalled addon: " + Widen(entry.name));
    } else {
      Log::Warn(L"Uninstall failed for " + Widen(entry.name));
    }
  }
  return installs;
}
