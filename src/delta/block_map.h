// The block map of a file: what a launcher needs to find the file's blocks in
// its old copy and to fetch the others by range from the file itself. The
// realm's tool writes one beside every big file (`<file>.ostrel-map`); static
// web servers and CDNs serve it as they serve the file.
//
// Format (little-endian), fixed blocks, so a block's place is its index:
//   0   8  "OSTRLMAP"
//   8   4  format, 1
//   12  4  block size B: a power of two from 1 KiB to 1 MiB
//   16  8  the file's size N
//   24  16 the file's MD5
//   40  32 the file's SHA-256
//   72     for each of the ceil(N / B) blocks in order: weak sum (4), strong sum (4)
// Block i covers bytes [i*B, min((i+1)*B, N)); the last may be shorter, and
// its sums are over its own bytes. Entries cannot overlap, run out of order or
// point past the end: the reader only has to check that their number fits N.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Files from this size on get a map from the realm's tool.
constexpr std::uint64_t kBlockMapMinFileBytes = 16u << 20;
// Beside the file in the realm's files folder: `Data/patch-4.MPQ.ostrel-map`.
constexpr char kBlockMapSuffix[] = ".ostrel-map";
constexpr std::size_t kBlockMapHeaderBytes = 72;
constexpr std::size_t kBlockSumBytes = 8;

struct BlockSum {
  std::uint32_t weak = 0;
  std::uint32_t strong = 0;
};

struct BlockMap {
  std::uint32_t block_size = 0;
  std::uint64_t file_size = 0;
  std::array<std::uint8_t, 16> md5{};
  std::array<std::uint8_t, 32> sha256{};
  std::vector<BlockSum> blocks;

  std::uint64_t BlockOffset(std::size_t index) const { return std::uint64_t{block_size} * index; }
  std::size_t BlockLength(std::size_t index) const;
  // A block size the format allows and one sum for every block of the file:
  // what every map from ReadBlockMap has, and the matching relies on.
  bool Whole() const;
};

// The block size the realm's tool gives a file: the smallest power of two,
// from 4 KiB, whose square reaches a quarter of the file's size (16 KiB for
// 1 GiB). Fewer, larger blocks keep the map small; smaller ones fetch less
// around each change; the optimum grows with the root of the size.
std::uint32_t BlockSizeFor(std::uint64_t file_size);

// The most a launcher fetches for the map of a file of `file_size` bytes:
// 1 % of the file plus 1 MiB. A map this tool writes stays far below (8 bytes
// per block of at least 4 KiB).
std::uint64_t BlockMapBoundFor(std::uint64_t file_size);

// Sums a file's blocks as its bytes come, in order, in pieces of any size.
class BlockMapBuilder {
 public:
  explicit BlockMapBuilder(std::uint32_t block_size);
  void Update(const std::uint8_t* data, std::size_t size);
  // The map's bytes, given the digests of all the bytes that came.
  std::string Finish(const std::array<std::uint8_t, 16>& md5, const std::array<std::uint8_t, 32>& sha256);

 private:
  void AddBlock(const std::uint8_t* data, std::size_t size);

  BlockMap map_;
  std::vector<std::uint8_t> partial_;  // the start of a block cut by a piece's end
};

std::string BlockMapBytes(const BlockMap& map);

// What the manifest says of the file a map must describe; an empty digest is
// not compared.
struct BlockMapFile {
  std::uint64_t size = 0;
  std::string md5;     // lower-case hex
  std::string sha256;  // lower-case hex
};

// Reads map bytes fetched for `file`. False with the reason in `why` for
// anything but a well-formed map of that very file within its bound; `map` is
// then untouched. Never allocates more than the bytes given.
bool ReadBlockMap(const std::string& bytes, const BlockMapFile& file, BlockMap& map, std::string& why);
