#include "delta/block_map.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "base/hex.h"
#include "delta/block_sums.h"

namespace {

constexpr char kMagic[8] = {'O', 'S', 'T', 'R', 'L', 'M', 'A', 'P'};
constexpr std::uint32_t kFormat = 1;
constexpr std::uint32_t kMinBlockSize = 1u << 10;
constexpr std::uint32_t kMaxBlockSize = 1u << 20;

void PutLe(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint64_t GetLe(const std::string& in, std::size_t at, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | static_cast<std::uint8_t>(in[at + i]);
  return value;
}

std::uint64_t BlockCountFor(std::uint64_t file_size, std::uint32_t block_size) {
  return file_size / block_size + (file_size % block_size != 0 ? 1 : 0);
}

template <std::size_t N>
std::string HexOf(const std::array<std::uint8_t, N>& digest) {
  return HexDigest(digest.data(), digest.size());
}

}  // namespace

std::size_t BlockMap::BlockLength(std::size_t index) const {
  return static_cast<std::size_t>(std::min<std::uint64_t>(block_size, file_size - BlockOffset(index)));
}

bool BlockMap::Whole() const {
  return block_size >= kMinBlockSize && block_size <= kMaxBlockSize && (block_size & (block_size - 1)) == 0 &&
         blocks.size() == BlockCountFor(file_size, block_size);
}

std::uint32_t BlockSizeFor(std::uint64_t file_size) {
  std::uint32_t size = 4u << 10;
  while (size < kMaxBlockSize && std::uint64_t{size} * size < file_size / 4) size <<= 1;
  return size;
}

std::uint64_t BlockMapBoundFor(std::uint64_t file_size) { return file_size / 100 + (1u << 20); }

BlockMapBuilder::BlockMapBuilder(std::uint32_t block_size) {
  map_.block_size = block_size;
  partial_.reserve(block_size);
}

void BlockMapBuilder::AddBlock(const std::uint8_t* data, std::size_t size) {
  map_.blocks.push_back({WeakSum(PolynomialSum(data, size)), StrongSum(data, size)});
  map_.file_size += size;
}

void BlockMapBuilder::Update(const std::uint8_t* data, std::size_t size) {
  const std::size_t block = map_.block_size;
  if (!partial_.empty()) {
    const std::size_t take = std::min(size, block - partial_.size());
    partial_.insert(partial_.end(), data, data + take);
    data += take;
    size -= take;
    if (partial_.size() < block) return;
    AddBlock(partial_.data(), block);
    partial_.clear();
  }
  for (; size >= block; data += block, size -= block) AddBlock(data, block);
  partial_.assign(data, data + size);
}

std::string BlockMapBuilder::Finish(const std::array<std::uint8_t, 16>& md5,
                                    const std::array<std::uint8_t, 32>& sha256) {
  if (!partial_.empty()) AddBlock(partial_.data(), partial_.size());
  partial_.clear();
  map_.md5 = md5;
  map_.sha256 = sha256;
  return BlockMapBytes(map_);
}

std::string BlockMapBytes(const BlockMap& map) {
  std::string out(kMagic, sizeof kMagic);
  out.reserve(kBlockMapHeaderBytes + map.blocks.size() * kBlockSumBytes);
  PutLe(out, kFormat, 4);
  PutLe(out, map.block_size, 4);
  PutLe(out, map.file_size, 8);
  out.append(reinterpret_cast<const char*>(map.md5.data()), map.md5.size());
  out.append(reinterpret_cast<const char*>(map.sha256.data()), map.sha256.size());
  for (const BlockSum& sum : map.blocks) {
    PutLe(out, sum.weak, 4);
    PutLe(out, sum.strong, 4);
  }
  return out;
}

bool ReadBlockMap(const std::string& bytes, const BlockMapFile& file, BlockMap& map, std::string& why) {
  if (bytes.size() > BlockMapBoundFor(file.size)) {
    why = "block map of " + std::to_string(bytes.size()) + " bytes is larger than its bound of " +
          std::to_string(BlockMapBoundFor(file.size)) + " bytes";
    return false;
  }
  if (bytes.size() < kBlockMapHeaderBytes || bytes.compare(0, sizeof kMagic, kMagic, sizeof kMagic) != 0) {
    why = "not a block map";
    return false;
  }
  BlockMap read;
  const auto format = static_cast<std::uint32_t>(GetLe(bytes, 8, 4));
  read.block_size = static_cast<std::uint32_t>(GetLe(bytes, 12, 4));
  read.file_size = GetLe(bytes, 16, 8);
  std::memcpy(read.md5.data(), bytes.data() + 24, read.md5.size());
  std::memcpy(read.sha256.data(), bytes.data() + 40, read.sha256.size());
  const std::uint64_t sums = (bytes.size() - kBlockMapHeaderBytes) / kBlockSumBytes;
  const bool whole_sums = (bytes.size() - kBlockMapHeaderBytes) % kBlockSumBytes == 0;
  std::string problem;
  if (format != kFormat) {
    problem = "block map format " + std::to_string(format) + " (this launcher reads format 1)";
  } else if (read.block_size < kMinBlockSize || read.block_size > kMaxBlockSize ||
             (read.block_size & (read.block_size - 1)) != 0) {
    problem = "block size " + std::to_string(read.block_size) + " is not a power of two from 1 KiB to 1 MiB";
  } else if (read.file_size != file.size) {
    problem = "block map of a file of " + std::to_string(read.file_size) + " bytes, not " + std::to_string(file.size);
  } else if ((!file.md5.empty() && HexOf(read.md5) != file.md5) ||
             (!file.sha256.empty() && HexOf(read.sha256) != file.sha256)) {
    problem = "block map of another file (its digests differ from the manifest's)";
  } else if (!whole_sums || sums != BlockCountFor(read.file_size, read.block_size)) {
    problem = "block map holds " + std::to_string(sums) + (whole_sums ? "" : " and a part") + " block sums for " +
              std::to_string(BlockCountFor(read.file_size, read.block_size)) + " blocks";
  }
  if (!problem.empty()) {
    why = problem;
    return false;
  }
  read.blocks.resize(static_cast<std::size_t>(sums));
  for (std::size_t i = 0; i < read.blocks.size(); ++i) {
    const std::size_t at = kBlockMapHeaderBytes + i * kBlockSumBytes;
    read.blocks[i] = {static_cast<std::uint32_t>(GetLe(bytes, at, 4)),
                      static_cast<std::uint32_t>(GetLe(bytes, at + 4, 4))};
  }
  map = std::move(read);
  return true;
}
