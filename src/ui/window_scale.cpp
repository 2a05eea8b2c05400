#include "ui/window_scale.h"

#include <cmath>

#include "ui/screen.h"

namespace {

constexpr float kSteps[] = {1, 1.25f, 1.5f, 1.75f, 2, 2.5f, 3};
constexpr std::uint32_t kMaxDpi = 480;  // 500 %: beyond it a reported DPI is no monitor's

}  // namespace

float WindowScale(std::uint32_t dpi, int work_width, int work_height) {
  if (dpi == 0 || dpi > kMaxDpi) return 1;
  float scale = 1;
  for (const float step : kSteps) {
    // dpi / 96 >= step, in whole numbers: no rounding at the steps themselves.
    if (static_cast<float>(dpi) < 96 * step) break;
    const WindowSize size = ScaledWindowSize(step);
    if (size.width > work_width || size.height > work_height) break;
    scale = step;
  }
  return scale;
}

WindowSize ScaledWindowSize(float scale) {
  return {static_cast<int>(std::lround(kScreenWidth * scale)), static_cast<int>(std::lround(kScreenHeight * scale))};
}

int ToDesign(int device, float scale) { return static_cast<int>(std::floor(static_cast<float>(device) / scale)); }

int TrayIconSize(std::uint32_t dpi) {
  const std::uint32_t wanted = (16 * dpi + 95) / 96;  // 16 pixels at 96 DPI, rounded up
  return wanted <= 16 ? 16 : wanted <= 32 ? 32 : 48;
}
