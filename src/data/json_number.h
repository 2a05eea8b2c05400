// JSON numbers are doubles; the launcher's counts and sizes are integers.
#pragma once

#include <cstdint>

// Truncates toward zero. Values beyond the target's range saturate and NaN
// reads as 0, so no server document can provoke an undefined conversion.
std::int64_t TruncateToInt64(double number);
std::int32_t TruncateToInt32(double number);
