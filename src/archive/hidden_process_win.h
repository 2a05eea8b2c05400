// Running a console tool without a window and waiting for it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Starts `command_line` (the program named first, as CreateProcess reads
// it) with no window and no inherited handles, and waits for it to end
// without a time limit. Its exit code, or nothing if it could not be started
// (the reason is logged).
std::optional<std::uint32_t> RunHiddenAndWait(const std::wstring& command_line);
