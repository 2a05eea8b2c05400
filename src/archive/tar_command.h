// The command line that has the system's tar.exe unpack an archive.
#pragma once

#include <string>

// "<tar>" -xf "<archive>" -C "<destination>", each path in double quotes so
// blanks are kept. A path ending in a backslash gets a "." after it: the C
// runtime that splits the line would read "\"" as a quote inside the path.
std::wstring TarCommandLine(const std::wstring& tar_path, const std::wstring& archive_path,
                            const std::wstring& destination);
