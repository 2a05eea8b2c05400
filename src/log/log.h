// The launcher's one text log, launcher.log, mirrored to an attached debugger.
// Callable from any thread, before or after Init.
#pragma once

#include <cstdint>
#include <string>

namespace Log {

// A log larger than this when the launcher starts becomes `path` + ".1"
// (replacing an older one) and a new log begins.
constexpr long long kLogRotateBytes = 8 << 20;

// Opens the file for appending. Lines logged before this (or when the file
// cannot be opened) reach only the debugger.
void Init(const std::wstring& path);

// Another launcher process (`process_id`) writes this log too until it ends:
// the two builds of a launcher update, handing over. Until then each line is
// written under a lock both processes take. Call before that process can write
// (it calls this with this process's id before its first line).
void ShareWith(std::uint32_t process_id);

void Info(const std::wstring& text);
void Warn(const std::wstring& text);
void Error(const std::wstring& text);

}  // namespace Log
