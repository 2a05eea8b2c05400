#include "data/json_number.h"

#include <cmath>
#include <limits>

namespace {

template <typename Int>
Int Truncate(double number) {
  if (std::isnan(number)) return 0;
  // Both limits are exact powers of two as doubles; anything at or past them
  // would overflow the cast.
  constexpr double kUpper = -static_cast<double>(std::numeric_limits<Int>::min());
  constexpr double kLower = static_cast<double>(std::numeric_limits<Int>::min());
  if (number >= kUpper) return std::numeric_limits<Int>::max();
  if (number <= kLower) return std::numeric_limits<Int>::min();
  return static_cast<Int>(number);  // the cast truncates toward zero
}

}  // namespace

std::int64_t TruncateToInt64(double number) { return Truncate<std::int64_t>(number); }
std::int32_t TruncateToInt32(double number) { return Truncate<std::int32_t>(number); }
