#include "ui/backdrop.h"

#include <algorithm>
#include <vector>

namespace {

// Where an output coordinate samples the input: the lower neighbour and the
// weight (0..256) of the upper one.
struct Tap {
  int low, high;
  int weight;
};

std::vector<Tap> Taps(int in, int out) {
  std::vector<Tap> taps(static_cast<std::size_t>(out));
  const double scale = static_cast<double>(in) / out;
  for (int i = 0; i < out; ++i) {
    const double pos = std::clamp((i + 0.5) * scale - 0.5, 0.0, static_cast<double>(in - 1));
    const int low = static_cast<int>(pos);
    taps[static_cast<std::size_t>(i)] = {low, std::min(low + 1, in - 1), static_cast<int>((pos - low) * 256 + 0.5)};
  }
  return taps;
}

inline std::uint8_t Div255(unsigned v) { return static_cast<std::uint8_t>((v + 128 + ((v + 128) >> 8)) >> 8); }

}  // namespace

void ScaleBilinear(ConstPixelView src, PixelView dst) {
  if (src.width <= 0 || src.height <= 0 || dst.width <= 0 || dst.height <= 0) return;
  const std::vector<Tap> xs = Taps(src.width, dst.width), ys = Taps(src.height, dst.height);
  for (int y = 0; y < dst.height; ++y) {
    const Tap& ty = ys[static_cast<std::size_t>(y)];
    const std::uint8_t* r0 = src.data + ty.low * src.stride;
    const std::uint8_t* r1 = src.data + ty.high * src.stride;
    std::uint8_t* out = dst.data + y * dst.stride;
    for (int x = 0; x < dst.width; ++x, out += 4) {
      const Tap& tx = xs[static_cast<std::size_t>(x)];
      const std::uint8_t *a = r0 + tx.low * 4, *b = r0 + tx.high * 4, *c = r1 + tx.low * 4, *d = r1 + tx.high * 4;
      for (int k = 0; k < 3; ++k) {
        const int top = a[k] * (256 - tx.weight) + b[k] * tx.weight;
        const int bottom = c[k] * (256 - tx.weight) + d[k] * tx.weight;
        out[k] = static_cast<std::uint8_t>((top * (256 - ty.weight) + bottom * ty.weight + (1 << 15)) >> 16);
      }
      out[3] = 0xFF;
    }
  }
}

void CompositePremultiplied(ConstPixelView layer, PixelView dst) {
  const int w = std::min(layer.width, dst.width), h = std::min(layer.height, dst.height);
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* in = layer.data + y * layer.stride;
    std::uint8_t* out = dst.data + y * dst.stride;
    for (int x = 0; x < w; ++x, in += 4, out += 4) {
      const unsigned alpha = in[3];
      if (alpha == 0) continue;
      const unsigned keep = 255 - alpha;
      for (int k = 0; k < 3; ++k)
        out[k] = static_cast<std::uint8_t>(std::min(255u, static_cast<unsigned>(in[k]) + Div255(out[k] * keep)));
    }
  }
}
