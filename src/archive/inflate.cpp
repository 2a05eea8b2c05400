#include "archive/inflate.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int kMaxCodeBits = 15;
constexpr int kFastBits = 9;  // codes up to this length decode with one table look-up
constexpr int kMaxLiteralCodes = 286;
constexpr int kMaxDistanceCodes = 30;
constexpr std::size_t kWindowSize = 32768;
constexpr std::size_t kOutputBufferSize = kWindowSize + 128 * 1024;
constexpr std::size_t kInputBufferSize = 64 * 1024;

constexpr std::array<std::uint16_t, 29> kLengthBase = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                       31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<std::uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<std::uint16_t, 30> kDistanceBase = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                                         33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                                         1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<std::uint8_t, 30> kDistanceExtra = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                         6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::array<std::uint8_t, 19> kCodeLengthOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                           11, 4,  12, 3, 13, 2, 14, 1, 15};

// Thrown inside the decoder only; Inflate turns it into its error text.
struct DataError {
  const char* reason;
};
struct OutputRefused {};

// A canonical Huffman code: symbols sorted by code length (for codes longer
// than kFastBits) plus a table indexed by the next kFastBits input bits.
struct HuffmanCode {
  std::array<std::uint16_t, kMaxCodeBits + 1> count{};
  std::array<std::uint16_t, 288> symbol{};
  // (length << 9) | symbol, or 0 where the code is longer than kFastBits or unused.
  std::array<std::uint16_t, 1u << kFastBits> fast{};

  // Gives 0 for a complete code, a positive number for an incomplete one and
  // a negative number for an over-subscribed (impossible) one.
  int Build(const std::uint8_t* lengths, int n) {
    count.fill(0);
    fast.fill(0);
    for (int s = 0; s < n; ++s) ++count[lengths[s]];
    if (count[0] == n) return 0;  // no codes at all: any use of it fails in Decode
    int left = 1;
    for (int len = 1; len <= kMaxCodeBits; ++len) {
      left = (left << 1) - count[len];
      if (left < 0) return left;
    }
    std::array<std::uint16_t, kMaxCodeBits + 2> offset{};
    std::array<std::uint32_t, kMaxCodeBits + 2> next_code{};
    for (int len = 1; len <= kMaxCodeBits; ++len) {
      offset[len + 1] = static_cast<std::uint16_t>(offset[len] + count[len]);
      next_code[len + 1] = (next_code[len] + count[len]) << 1;
    }
    for (int s = 0; s < n; ++s) {
      const int len = lengths[s];
      if (len == 0) continue;
      symbol[offset[len]++] = static_cast<std::uint16_t>(s);
      const std::uint32_t code = next_code[len]++;
      if (len > kFastBits) continue;
      // Codes are sent most significant bit first; the table is indexed by
      // input bits in arrival order, so it takes the code reversed.
      std::uint32_t reversed = 0;
      for (int b = 0; b < len; ++b) reversed |= ((code >> b) & 1u) << (len - 1 - b);
      for (std::uint32_t i = reversed; i < (1u << kFastBits); i += 1u << len) {
        fast[i] = static_cast<std::uint16_t>((len << 9) | s);
      }
    }
    return left;
  }
};

struct CodePair {
  HuffmanCode literal;
  HuffmanCode distance;
};

}  // namespace

struct InflateWorkspace::Buffers {
  std::vector<std::uint8_t> in = std::vector<std::uint8_t>(kInputBufferSize);
  std::vector<std::uint8_t> out = std::vector<std::uint8_t>(kOutputBufferSize);
  CodePair dynamic;
};

InflateWorkspace::InflateWorkspace() : buffers_(std::make_unique<Buffers>()) {}
InflateWorkspace::~InflateWorkspace() = default;

namespace {

// The buffers' contents from an earlier stream are never read: only what this
// stream wrote, as its counters say.
class Inflater {
 public:
  Inflater(const InflateInput& input, const InflateOutput& output, InflateWorkspace::Buffers& buffers)
      : input_(input), output_(output), in_(buffers.in), out_(buffers.out), dynamic_(buffers.dynamic) {}

  void Run() {
    bool last = false;
    while (!last) {
      last = Bits(1) == 1;
      switch (Bits(2)) {
        case 0: StoredBlock(); break;
        case 1: CodedBlock(FixedCodes().literal, FixedCodes().distance); break;
        case 2: DynamicBlock(); break;
        default: throw DataError{"invalid block type"};
      }
    }
    Flush();
  }

 private:
  static const CodePair& FixedCodes() {
    static const CodePair codes = [] {
      CodePair c;
      std::array<std::uint8_t, 288> lengths{};
      std::fill(lengths.begin(), lengths.begin() + 144, 8);
      std::fill(lengths.begin() + 144, lengths.begin() + 256, 9);
      std::fill(lengths.begin() + 256, lengths.begin() + 280, 7);
      std::fill(lengths.begin() + 280, lengths.end(), 8);
      c.literal.Build(lengths.data(), 288);
      lengths.fill(5);
      c.distance.Build(lengths.data(), 30);
      return c;
    }();
    return codes;
  }

  // --- Bit input ---------------------------------------------------------
  // Past the end of the input the bit buffer is padded with zero bytes
  // ("phantom" bits) so look-ahead never stalls; consuming any of them means
  // the stream was cut short.
  void Refill() {
    while (bit_count_ <= 56) {
      if (in_pos_ == in_len_ && !input_ended_) {
        in_len_ = input_(in_.data(), in_.size());
        in_pos_ = 0;
        if (in_len_ == 0) input_ended_ = true;
      }
      std::uint64_t byte = 0;
      if (in_pos_ < in_len_) {
        byte = in_[in_pos_++];
      } else {
        phantom_bits_ += 8;
      }
      bit_buffer_ |= byte << bit_count_;
      bit_count_ += 8;
    }
  }

  void Consume(int n) {
    bit_buffer_ >>= n;
    bit_count_ -= n;
    if (bit_count_ < phantom_bits_) throw DataError{"compressed data ends early"};
  }

  std::uint32_t Bits(int n) {
    if (n == 0) return 0;
    if (bit_count_ < n) Refill();
    const auto value = static_cast<std::uint32_t>(bit_buffer_ & ((std::uint64_t{1} << n) - 1));
    Consume(n);
    return value;
  }

  int Decode(const HuffmanCode& h) {
    if (bit_count_ < kMaxCodeBits) Refill();
    const std::uint16_t entry = h.fast[bit_buffer_ & ((1u << kFastBits) - 1)];
    if (entry != 0) {
      Consume(entry >> 9);
      return entry & 0x1FF;
    }
    int code = 0, first = 0, index = 0;
    for (int len = 1; len <= kMaxCodeBits; ++len) {
      code |= static_cast<int>((bit_buffer_ >> (len - 1)) & 1);
      const int count = h.count[len];
      if (code - count < first) {
        Consume(len);
        return h.symbol[index + (code - first)];
      }
      index += count;
      first = (first + count) << 1;
      code <<= 1;
    }
    throw DataError{"invalid Huffman code"};
  }

  // --- Output with a 32 KiB history for back-references --------------------
  void Flush() {
    if (out_pos_ > flushed_ && !output_(out_.data() + flushed_, out_pos_ - flushed_)) throw OutputRefused{};
    flushed_ = out_pos_;
  }

  void MakeRoom() {
    Flush();
    std::memmove(out_.data(), out_.data() + out_pos_ - kWindowSize, kWindowSize);
    out_pos_ = flushed_ = kWindowSize;
  }

  void Put(std::uint8_t byte) {
    if (out_pos_ == out_.size()) MakeRoom();
    out_[out_pos_++] = byte;
    ++total_out_;
  }

  void CopyMatch(std::size_t distance, std::size_t length) {
    if (distance > total_out_) throw DataError{"distance too far back"};
    while (length > 0) {
      if (out_pos_ == out_.size()) MakeRoom();
      const std::size_t n = std::min(length, out_.size() - out_pos_);
      std::uint8_t* dst = out_.data() + out_pos_;
      // Where source and target overlap the output repeats every `distance`
      // bytes, so it also repeats every 2, 4, ... times that: each copy takes
      // a period already written and doubles it (runs of one byte are common).
      for (std::size_t done = 0, period = distance; done < n; period *= 2) {
        const std::size_t piece = std::min(period, n - done);
        std::memcpy(dst + done, dst + done - period, piece);
        done += piece;
      }
      out_pos_ += n;
      total_out_ += n;
      length -= n;
    }
  }

  // --- Blocks --------------------------------------------------------------
  void StoredBlock() {
    Consume(bit_count_ & 7);  // to the next byte boundary
    const std::uint32_t length = Bits(16);
    const std::uint32_t complement = Bits(16);
    if ((length ^ 0xFFFFu) != complement) throw DataError{"stored block length check failed"};
    std::uint32_t left = length;
    while (left > 0 && bit_count_ >= 8) {
      Put(static_cast<std::uint8_t>(Bits(8)));
      --left;
    }
    if (left > 0) {
      // The bit buffer is empty: copy straight from the input.
      bit_buffer_ = 0;
      while (left > 0) {
        if (in_pos_ == in_len_) {
          in_len_ = input_ended_ ? 0 : input_(in_.data(), in_.size());
          in_pos_ = 0;
          if (in_len_ == 0) throw DataError{"compressed data ends early"};
        }
        const std::size_t n = std::min<std::size_t>(left, in_len_ - in_pos_);
        std::size_t done = 0;
        while (done < n) {
          if (out_pos_ == out_.size()) MakeRoom();
          const std::size_t piece = std::min(n - done, out_.size() - out_pos_);
          std::memcpy(out_.data() + out_pos_, in_.data() + in_pos_ + done, piece);
          out_pos_ += piece;
          total_out_ += piece;
          done += piece;
        }
        in_pos_ += n;
        left -= static_cast<std::uint32_t>(n);
      }
    }
  }

  void CodedBlock(const HuffmanCode& literal, const HuffmanCode& distance) {
    for (;;) {
      const int symbol = Decode(literal);
      if (symbol < 256) {
        Put(static_cast<std::uint8_t>(symbol));
        continue;
      }
      if (symbol == 256) return;
      const int l = symbol - 257;
      if (l >= static_cast<int>(kLengthBase.size())) throw DataError{"invalid length code"};
      const std::size_t length = kLengthBase[l] + Bits(kLengthExtra[l]);
      const int d = Decode(distance);
      if (d >= kMaxDistanceCodes) throw DataError{"invalid distance code"};
      CopyMatch(kDistanceBase[d] + Bits(kDistanceExtra[d]), length);
    }
  }

  void DynamicBlock() {
    const int literal_count = static_cast<int>(Bits(5)) + 257;
    const int distance_count = static_cast<int>(Bits(5)) + 1;
    const int code_length_count = static_cast<int>(Bits(4)) + 4;
    if (literal_count > kMaxLiteralCodes || distance_count > kMaxDistanceCodes) {
      throw DataError{"too many length or distance codes"};
    }
    std::array<std::uint8_t, kMaxLiteralCodes + kMaxDistanceCodes> lengths{};
    for (int i = 0; i < code_length_count; ++i) lengths[kCodeLengthOrder[i]] = static_cast<std::uint8_t>(Bits(3));
    HuffmanCode length_code;
    if (length_code.Build(lengths.data(), 19) != 0) throw DataError{"invalid code-length code"};

    const int total = literal_count + distance_count;
    lengths.fill(0);
    for (int index = 0; index < total;) {
      const int symbol = Decode(length_code);
      if (symbol < 16) {
        lengths[index++] = static_cast<std::uint8_t>(symbol);
        continue;
      }
      std::uint8_t value = 0;
      int repeat = 0;
      if (symbol == 16) {
        if (index == 0) throw DataError{"length repeat with no previous length"};
        value = lengths[index - 1];
        repeat = 3 + static_cast<int>(Bits(2));
      } else if (symbol == 17) {
        repeat = 3 + static_cast<int>(Bits(3));
      } else {
        repeat = 11 + static_cast<int>(Bits(7));
      }
      if (index + repeat > total) throw DataError{"code lengths overflow the table"};
      std::fill(lengths.begin() + index, lengths.begin() + index + repeat, value);
      index += repeat;
    }
    if (lengths[256] == 0) throw DataError{"no end-of-block code"};

    // An incomplete code is allowed only when it has a single one-bit code.
    auto& codes = dynamic_;
    const int literal_left = codes.literal.Build(lengths.data(), literal_count);
    if (literal_left < 0 || (literal_left > 0 && literal_count != codes.literal.count[0] + codes.literal.count[1])) {
      throw DataError{"invalid literal/length code"};
    }
    const int distance_left = codes.distance.Build(lengths.data() + literal_count, distance_count);
    if (distance_left < 0 ||
        (distance_left > 0 && distance_count != codes.distance.count[0] + codes.distance.count[1])) {
      throw DataError{"invalid distance code"};
    }
    CodedBlock(codes.literal, codes.distance);
  }

  const InflateInput& input_;
  const InflateOutput& output_;
  std::vector<std::uint8_t>& in_;
  std::size_t in_pos_ = 0, in_len_ = 0;
  bool input_ended_ = false;
  std::uint64_t bit_buffer_ = 0;
  int bit_count_ = 0;
  int phantom_bits_ = 0;
  std::vector<std::uint8_t>& out_;
  std::size_t out_pos_ = 0, flushed_ = 0;
  std::uint64_t total_out_ = 0;
  CodePair& dynamic_;
};

}  // namespace

bool Inflate(const InflateInput& input, const InflateOutput& output, std::string& error) {
  InflateWorkspace workspace;
  return Inflate(input, output, error, workspace);
}

bool Inflate(const InflateInput& input, const InflateOutput& output, std::string& error, InflateWorkspace& workspace) {
  try {
    Inflater inflater(input, output, workspace.buffers());
    inflater.Run();
    return true;
  } catch (const DataError& e) {
    error = std::string("bad deflate data: ") + e.reason;
  } catch (const OutputRefused&) {
    error = "output refused";
  }
  return false;
}
