// File identities as the file system keeps them, read without opening the
// files: what the quick check of an update run compares.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "update/verified_record.h"

// Every file directly in `folder` (not its subfolders) with its identity, a
// buffer of entries per call; false when the folder cannot be listed.
bool ListFolderIdentities(const std::wstring& folder, std::vector<ListedFile>& files);

// The folder's volume and file id; nothing when it cannot be opened.
std::optional<FolderIdentity> FolderIdentityOf(const std::wstring& folder);

// The system time as FILETIME units.
std::uint64_t SystemTimeNow();

// A whole file of at most `limit` bytes (a larger one gives its first `limit` + 1);
// nothing when it is missing (`missing` set) or cannot be read.
std::optional<std::string> ReadWholeFile(const std::wstring& path, std::size_t limit, bool& missing);
