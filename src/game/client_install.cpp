#include "game/client_install.h"

#include "game/client_folder.h"

ClientArchiveKind ClientArchiveKindOf(const std::wstring& url) {
  return url.size() >= 4 && url.compare(url.size() - 4, 4, L".rar") == 0 ? ClientArchiveKind::Rar
                                                                         : ClientArchiveKind::Zip;
}

std::wstring ClientArchivePath(const std::wstring& launcher_folder, ClientArchiveKind kind) {
  return launcher_folder +
         (kind == ClientArchiveKind::Rar ? L"\\launcher_cache\\wow_client.rar" : L"\\launcher_cache\\wow_client.zip");
}

std::wstring UnrarToolPath(const std::wstring& launcher_folder) {
  return launcher_folder + L"\\assets\\tools\\UnRAR.exe";
}

std::wstring UnrarCommandLine(const std::wstring& tool, const std::wstring& archive, const std::wstring& folder) {
  return L"\"" + tool + L"\" x -y \"" + archive + L"\" \"" + folder + L"\\\"";
}

std::wstring FindClientFolder(const std::wstring& folder, const std::function<bool(const std::wstring&)>& exists,
                              const std::function<std::vector<std::wstring>(const std::wstring&)>& subfolders) {
  if (exists(ClientPath(folder, ClientFolder::kExecutable))) return folder;
  for (const std::wstring& name : subfolders(folder)) {
    const std::wstring candidate = ClientPath(folder, name);
    if (exists(ClientPath(candidate, ClientFolder::kExecutable))) return candidate;
  }
  return folder;
}
