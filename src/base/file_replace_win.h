// Replacing a small file so that it is either wholly old or wholly new on
// disk, whatever happens during the write (full disk, crash, power loss).
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Writes `bytes` to the open file; false when not all of them got there.
using FileContentWriter = std::function<bool(HANDLE file, const std::string& bytes)>;

// The writer ReplaceFileContent uses: WriteFile until every byte is written.
bool WriteAllBytes(HANDLE file, const std::string& bytes);

// Writes `bytes` to `path` + ".tmp", flushes it to the disk and moves it over
// `path`. On any failure the temporary file is removed and `path` keeps its
// old content. `write` is replaceable so tests can make the write fail.
bool ReplaceFileContent(const std::wstring& path, const std::string& bytes,
                        const FileContentWriter& write = WriteAllBytes);
