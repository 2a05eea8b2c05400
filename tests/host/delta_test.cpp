// Block maps and patching: a new version rebuilt exactly from the old file's
// blocks and the fetched stretches, and the map reader's refusals.
#include <gtest/gtest.h>

#include <tuple>

#include "delta/block_map.h"
#include "delta/patch_apply.h"
#include "delta/patch_plan.h"
#include "net/md5.h"
#include "test_util.h"

namespace {

constexpr std::uint32_t kBlock = 1024;

const std::uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

std::string MapOf(const std::string& file, std::uint32_t block = kBlock) {
  BlockMapBuilder builder(block);
  for (std::size_t at = 0; at < file.size(); at += 777) {  // pieces that cut blocks
    builder.Update(Bytes(file) + at, std::min<std::size_t>(777, file.size() - at));
  }
  Md5 md5;
  md5.Update(file.data(), file.size());
  return builder.Finish(md5.Finish(), {});
}

std::string Cut(const std::string& s, std::size_t at, std::size_t count) {
  return s.substr(0, at) + s.substr(at + count);
}
std::string Put(const std::string& s, std::size_t at, const std::string& what) {
  return s.substr(0, at) + what + s.substr(at);
}

// The new file rebuilt by plan: copies from the old file, the rest from a
// copy of the new file that holds only the fetched stretches.
struct Patched {
  PatchPlan plan;
  std::string result, why;
  bool ok = false;

  Patched(const std::string& old_file, const std::string& new_file) {
    BlockMap map;
    EXPECT_TRUE(ReadBlockMap(MapOf(new_file), {new_file.size(), Md5Hex(new_file), ""}, map, why)) << why;
    MemoryByteSource old_source(Bytes(old_file), old_file.size());
    if (!PlanPatch(map, old_source, plan, why)) return;
    std::string served(new_file.size(), '\xEE');
    for (const PatchOp& op : plan.ops) {
      if (op.fetch) served.replace(op.offset, op.length, new_file, op.offset, op.length);
    }
    MemoryByteSource fetched(Bytes(served), served.size());
    ok = ApplyPatch(
        map, plan, old_source, fetched,
        [this](std::uint64_t offset, const std::uint8_t* data, std::size_t size, bool) {
          EXPECT_EQ(offset, result.size());
          result.append(reinterpret_cast<const char*>(data), size);
          return true;
        },
        why);
  }
};

TEST(Patching, RebuildsEachVersionExactlyFetchingOnlyWhatChanged) {
  const std::string old_file = testutil::PatternBytes(64 * kBlock + 100, 7);
  const std::string other = testutil::PatternBytes(3000, 8);
  const std::string zeros(16 * kBlock, '\0');
  const std::string with_zeros = Put(old_file, 20 * kBlock + 5, std::string(5000, '\0'));
  // old, new, most bytes to fetch: one block either side of each change, and
  // the old file's cut-off last block.
  const std::tuple<const char*, std::string, std::string, std::size_t> cases[] = {
      {"same", old_file, old_file, 0},
      {"shifted", old_file, "1234567" + old_file, kBlock},
      {"inserted", old_file, Put(old_file, 30 * kBlock + 11, other), other.size() + 2 * kBlock},
      {"deleted", old_file, Cut(old_file, 30 * kBlock + 11, 3000), 2 * kBlock},
      {"overwritten", old_file, old_file.substr(0, 9000) + other + old_file.substr(12000), other.size() + 2 * kBlock},
      {"appended", old_file, old_file + other, 100 + other.size()},
      {"front and back", old_file, other + Cut(old_file, 0, 5) + other, 2 * other.size() + 2 * kBlock},
      {"moved blocks", old_file, old_file.substr(40000) + old_file.substr(0, 40000), 2 * kBlock},
      {"equal blocks", with_zeros, zeros + with_zeros + zeros, kBlock},
      {"unrelated", old_file, testutil::PatternBytes(old_file.size(), 9), old_file.size()},
      {"old file empty", "", old_file, old_file.size()},
      {"old file shorter than a block", other.substr(0, 500), other.substr(0, 500) + old_file,
       old_file.size() + kBlock},
      {"new file empty", old_file, "", 0},
      {"new file one short block", old_file, old_file.substr(old_file.size() - 100), 0},
  };
  for (const auto& [name, old_version, new_version, most] : cases) {
    const Patched p(old_version, new_version);
    ASSERT_TRUE(p.ok) << name << ": " << p.why;
    EXPECT_TRUE(p.result == new_version) << name;
    EXPECT_LE(p.plan.fetch_bytes, most) << name;
    EXPECT_EQ(PatchWorthIt(p.plan), p.plan.fetch_bytes * 10 <= new_version.size() * 7) << name;
  }
}

// The old file changing after the matching, or a server sending other bytes,
// stops the patching with a reason instead of writing a wrong file.
TEST(Patching, RefusesBlocksThatNoLongerMatchTheMap) {
  const std::string old_file = testutil::PatternBytes(8 * kBlock, 3);
  const std::string new_file = Put(old_file, 4000, "inserted");
  BlockMap map;
  std::string why;
  ASSERT_TRUE(ReadBlockMap(MapOf(new_file), {new_file.size(), "", ""}, map, why));
  PatchPlan plan;
  MemoryByteSource old_source(Bytes(old_file), old_file.size());
  ASSERT_TRUE(PlanPatch(map, old_source, plan, why));
  const auto keep = [](std::uint64_t, const std::uint8_t*, std::size_t, bool) { return true; };
  std::string changed = old_file, wrong = new_file;
  changed[100] ^= 1;
  wrong[4001] ^= 1;
  MemoryByteSource changed_source(Bytes(changed), changed.size()), new_source(Bytes(new_file), new_file.size()),
      wrong_source(Bytes(wrong), wrong.size());
  EXPECT_FALSE(ApplyPatch(map, plan, changed_source, new_source, keep, why));
  EXPECT_EQ(why, "block 0 of the old file differs from the block map (the old file changed since it was matched)");
  EXPECT_FALSE(ApplyPatch(map, plan, old_source, wrong_source, keep, why));
  EXPECT_EQ(why, "block 3 as fetched differs from the block map");
  // An old file that shrank after it was opened.
  struct Shrunk : MemoryByteSource {
    using MemoryByteSource::MemoryByteSource;
    std::uint64_t Size() const override { return MemoryByteSource::Size() + 5000; }
  } shrunk(Bytes(old_file), old_file.size());
  EXPECT_FALSE(PlanPatch(map, shrunk, plan, why));
  EXPECT_EQ(why, "cannot read the old file at byte 0");
}

TEST(BlockMapReader, RefusesWhatIsNotTheMapOfThisFile) {
  const std::string file = testutil::PatternBytes(10 * kBlock + 1, 5);
  const std::string good = MapOf(file);
  const BlockMapFile facts{file.size(), Md5Hex(file), ""};
  const std::string sha_of_other(64, '1');
  const auto with = [&](std::size_t at, std::uint64_t value, int bytes = 4) {
    std::string b = good;
    testutil::PutLe(b, at, value, bytes);
    return b;
  };
  const std::tuple<std::string, BlockMapFile, std::string> cases[] = {
      {good.substr(0, 71), facts, "not a block map"},
      {with(0, 0x4F), facts, "not a block map"},
      {with(8, 2), facts, "block map format 2 (this launcher reads format 1)"},
      {with(12, 1000), facts, "block size 1000 is not a power of two from 1 KiB to 1 MiB"},
      {with(12, 512), facts, "block size 512 is not a power of two"},
      {with(12, 2u << 20), facts, "block size 2097152 is not a power of two"},
      {with(16, file.size() - 1, 8), facts, "block map of a file of 10240 bytes, not 10241"},
      {good, {file.size(), Md5Hex("other"), ""}, "block map of another file"},
      {good, {file.size(), "", sha_of_other}, "block map of another file"},
      {good + std::string(8, 'x'), facts, "block map holds 12 block sums for 11 blocks"},
      {good.substr(0, good.size() - 8), facts, "block map holds 10 block sums for 11 blocks"},
      {good.substr(0, good.size() - 3), facts, "block map holds 10 and a part block sums for 11 blocks"},
      {with(16, std::uint64_t{1} << 60, 8), {std::uint64_t{1} << 60, "", ""}, "block map holds 11 block sums for"},
      {good + std::string(1 << 20, 'x'), facts, "larger than its bound of 1048678 bytes"},
  };
  for (const auto& [bytes, file_facts, message] : cases) {
    BlockMap map;
    map.block_size = 77;
    std::string why;
    EXPECT_FALSE(ReadBlockMap(bytes, file_facts, map, why)) << message;
    EXPECT_NE(why.find(message), std::string::npos) << why;
    EXPECT_EQ(map.block_size, 77u) << message;  // untouched
  }
  BlockMap map;
  std::string why;
  ASSERT_TRUE(ReadBlockMap(good, facts, map, why)) << why;
  EXPECT_EQ(BlockMapBytes(map), good);
}

}  // namespace
