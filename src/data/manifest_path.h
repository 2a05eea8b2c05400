// The rule for the relative paths a manifest names (a game file's "path" and
// "extract_to"): they must stay inside the client folder and name a file that
// Windows holds under exactly that name. The launcher applies it before it
// touches a file, and the manifest generator before it publishes, so the
// generator refuses exactly what the launcher refuses.
#pragma once

#include <string>

// Why `part` (one folder or file name, no separators) cannot be a Windows
// file name, or nullptr when it can: a control character or one of <>"|?*,
// a trailing dot or blank (Windows silently drops them, so "a." is "a"), or a
// device name such as "CON" or "nul.txt" (whatever the extension).
const char* WindowsNamePartProblem(const std::string& part);

// Why `path` is not a safe client-relative path, or nullptr when it is:
// empty, rooted ("/x", "\x", UNC), any ':' (drive letter or stream name), a
// ".." part, or a part WindowsNamePartProblem refuses. Either slash separates;
// empty and "." parts are allowed and name nothing.
const char* ManifestPathProblem(const std::string& path);

inline bool IsSafeManifestPath(const std::string& path) { return ManifestPathProblem(path) == nullptr; }

// The file a path names on a Windows file system, as a comparable text: "/"
// separators, empty and "." parts dropped, ASCII letters in lower case
// (Windows file names ignore case). Equal keys name the same file.
std::string ManifestPathKey(const std::string& path);

// Whether the file of key `key` lies inside the folder of key `folder`; every
// file lies inside the empty key, the client folder itself.
bool IsInsidePathKey(const std::string& key, const std::string& folder);
