// Unpacking a downloaded archive into a folder with the operating system's own
// tools, falling back to the launcher's built-in ZIP reader where those tools
// are missing (as under Wine). Both block the calling thread until the files
// are on disk, log what went wrong, give the reason in `error` for the status
// line, and show no window of their own.
#pragma once

#include <string>

// Unpacks a ZIP archive into `destination`, which must exist. Files already
// there are replaced without a question. True only once every entry of the
// archive has been written. The calling thread must have COM initialised as a
// single-threaded apartment (the shell's folder objects run on it).
bool ExtractZip(const std::wstring& archive_path, const std::wstring& destination, std::string& error);

// Unpacks an archive with the system's tar.exe (any format it accepts) into
// `destination`; true exactly when tar.exe exits with code 0. Without tar.exe
// only ZIP archives can be unpacked.
bool ExtractWithTar(const std::wstring& archive_path, const std::wstring& destination, std::string& error);
