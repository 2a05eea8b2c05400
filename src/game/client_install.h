// What installing a whole client relies on besides the download: the
// archive's kind and place, the RAR tool's command line, and where Wow.exe
// ended up after unpacking.
#pragma once

#include <functional>
#include <string>
#include <vector>

enum class ClientArchiveKind { Zip, Rar };

// RAR exactly when the URL ends in ".rar" (lower case); anything else is ZIP.
ClientArchiveKind ClientArchiveKindOf(const std::wstring& url);

// launcher folder + "\launcher_cache\wow_client.rar" or ".zip".
std::wstring ClientArchivePath(const std::wstring& launcher_folder, ClientArchiveKind kind);

// launcher folder + "\assets\tools\UnRAR.exe".
std::wstring UnrarToolPath(const std::wstring& launcher_folder);

// "<tool>" x -y "<archive>" "<folder>\": extract with full paths, overwrite
// without asking. The trailing backslash tells UnRAR the target is a folder.
std::wstring UnrarCommandLine(const std::wstring& tool, const std::wstring& archive, const std::wstring& folder);

// The folder that holds Wow.exe: `folder` itself, else its first subfolder
// (in the lister's order) that holds it, else `folder` unchanged. Only one
// level is searched. `subfolders` lists folder names only, without "." and "..".
std::wstring FindClientFolder(const std::wstring& folder, const std::function<bool(const std::wstring&)>& exists,
                              const std::function<std::vector<std::wstring>(const std::wstring&)>& subfolders);

// Windows build: the names of the folders directly inside `folder`, in the
// file system's order (empty when it cannot be read).
std::vector<std::wstring> ListSubfolders(const std::wstring& folder);

// Windows build: whether a file or folder of that path exists.
bool PathExists(const std::wstring& path);
