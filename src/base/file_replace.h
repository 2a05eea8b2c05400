// Replacing a file whole for portable code: afterwards the file holds either
// its old bytes or all of `bytes`, whatever happens during the write (a kill,
// a full disk, a power cut). Windows: ReplaceFileContent (file_replace_win.h).
#pragma once

#include <string>

bool ReplaceWholeFile(const std::wstring& path, const std::string& bytes);
