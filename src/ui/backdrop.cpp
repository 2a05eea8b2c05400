#include "ui/backdrop.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
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

// One channel of `over` (premultiplied, of alpha `alpha`) laid over `under`.
inline std::uint8_t Over(unsigned over, unsigned alpha, unsigned under) {
  return static_cast<std::uint8_t>(std::min(255u, over + Div255(under * (255 - alpha))));
}

// A source row scaled horizontally: B, G, R, X of each output pixel (X as
// 0xFF, so that the row mixes into whole output pixels).
// Output columns from `left` up to `right` only.
void ScaleRow(const std::uint8_t* row, const std::vector<Tap>& xs, int left, int right,
              std::vector<std::uint8_t>& out) {
  std::uint8_t* to = out.data();
  for (int x = left; x < right; ++x, to += 4) {
    const Tap& t = xs[static_cast<std::size_t>(x)];
    const std::uint8_t *a = row + t.low * 4, *b = row + t.high * 4;
    for (int k = 0; k < 3; ++k)
      to[k] = static_cast<std::uint8_t>((a[k] * (256 - t.weight) + b[k] * t.weight + 128) >> 8);
    to[3] = 0xFF;
  }
}

// ScaleBilinear, with `layer` (when given) laid over each scaled pixel.
// Separable: each source row is scaled across once and kept while output rows
// use it, then each output row is a weighted sum of two such rows, a loop the
// compiler can vectorise (the window at 200 % has 3.7 million pixels). Output
// pixels of `area`'s columns and of its rows from `first` up to `end` only.
void ScaleRows(ConstPixelView src, const ConstPixelView* layer, PixelView dst, const PixelRect& area, int first,
               int end) {
  const std::vector<Tap> xs = Taps(src.width, dst.width), ys = Taps(src.height, dst.height);
  const std::size_t n = static_cast<std::size_t>(area.right - area.left) * 4;
  std::vector<std::uint8_t> rows[2] = {std::vector<std::uint8_t>(n), std::vector<std::uint8_t>(n)};
  int held[2] = {-1, -1};  // the source row in each buffer
  for (int y = first; y < end; ++y) {
    const Tap& ty = ys[static_cast<std::size_t>(y)];
    // The lower row's buffer first; the upper one goes in the other.
    int lo = held[1] == ty.low ? 1 : 0;
    if (held[lo] != ty.low) {
      ScaleRow(src.data + ty.low * src.stride, xs, area.left, area.right, rows[lo]);
      held[lo] = ty.low;
    }
    const int hi = 1 - lo;
    if (held[hi] != ty.high) {
      ScaleRow(src.data + ty.high * src.stride, xs, area.left, area.right, rows[hi]);
      held[hi] = ty.high;
    }
    const std::uint8_t *top = rows[lo].data(), *bottom = rows[hi].data();
    const std::uint16_t wb = static_cast<std::uint16_t>(ty.weight), wt = static_cast<std::uint16_t>(256 - wb);
    std::uint8_t* out = dst.data + y * dst.stride + area.left * 4;
    for (std::size_t i = 0; i < n; ++i) {
      // A weighted mean of two bytes with weights summing to 256 fits 16 bits:
      // eight pixels' worth of channels per vector instruction.
      out[i] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(top[i] * wt + bottom[i] * wb + 128) >> 8);
    }
    if (!layer) continue;
    const std::uint8_t* over = layer->data + y * layer->stride + area.left * 4;
    for (std::size_t x = 0; x < n; x += 4) {
      const unsigned alpha = over[x + 3];
      if (alpha == 0) continue;  // most of the front is clear
      for (std::size_t k = 0; k < 3; ++k) out[x + k] = Over(over[x + k], alpha, out[x + k]);
    }
  }
}

void Scale(ConstPixelView src, const ConstPixelView* layer, PixelView dst, PixelRect area) {
  area = {std::max(area.left, 0), std::max(area.top, 0), std::min(area.right, dst.width),
          std::min(area.bottom, dst.height)};
  if (src.width <= 0 || src.height <= 0 || area.Empty()) return;
  // A window scaled up has millions of pixels: the lower half on a second
  // processor, where the thread starts (the rows are apart; the input is read only).
  const int rows = area.bottom - area.top;
  const long long pixels = static_cast<long long>(area.right - area.left) * rows;
  const int half = pixels >= (1 << 21) ? area.top + rows / 2 : area.bottom;
  std::atomic<bool> lower_done{half == area.bottom};
  std::thread lower;
  struct Join {  // on every path, also when the rows here throw
    std::thread& thread;
    ~Join() {
      if (thread.joinable()) thread.join();
    }
  } join{lower};
  if (half < area.bottom) {
    try {
      lower = std::thread([&] {
        try {
          ScaleRows(src, layer, dst, area, half, area.bottom);
          lower_done = true;
        } catch (...) {  // left to this thread below
        }
      });
    } catch (const std::system_error&) {  // no thread: all rows here
    }
  }
  ScaleRows(src, layer, dst, area, area.top, half);
  if (lower.joinable()) lower.join();
  if (!lower_done) ScaleRows(src, layer, dst, area, half, area.bottom);
}

}  // namespace

void ScaleBilinear(ConstPixelView src, PixelView dst) { Scale(src, nullptr, dst, {0, 0, dst.width, dst.height}); }

void ScaleUnderLayer(ConstPixelView src, ConstPixelView layer, PixelView dst, const PixelRect& area) {
  if (layer.width < dst.width || layer.height < dst.height) return;
  Scale(src, &layer, dst, area);
}

void CompositePremultiplied(ConstPixelView layer, PixelView dst) {
  const int w = std::min(layer.width, dst.width), h = std::min(layer.height, dst.height);
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* in = layer.data + y * layer.stride;
    std::uint8_t* out = dst.data + y * dst.stride;
    for (int x = 0; x < w; ++x, in += 4, out += 4) {
      const unsigned alpha = in[3];
      if (alpha == 0) continue;
      for (int k = 0; k < 3; ++k) out[k] = Over(in[k], alpha, out[k]);
    }
  }
}
