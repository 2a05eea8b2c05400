// Conversions between the launcher's wide path texts and filesystem paths
// that never throw, whatever characters a path holds. On Windows paths are
// wide already; elsewhere (the Linux test build) names are UTF-8 bytes.
#pragma once

#include <filesystem>
#include <string>

std::filesystem::path PathFromWide(const std::wstring& text);

// For logs and error texts: on Linux each byte of the name becomes one unit.
std::wstring PathToWide(const std::filesystem::path& path);
