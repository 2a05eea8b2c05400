// The ZIP archives of tests/data/zip (made by make_archives.py there) and the
// contents their entries were made from, rebuilt the same way.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "test_util.h"

namespace ziptest {

// A file of the test data folder. OSTREL_TEST_DATA is a Unix path; a
// Windows build under Wine reaches it through Z:.
inline std::filesystem::path DataFile(const std::string& name) {
  std::string root = testutil::EnvOr("OSTREL_TEST_DATA");
  EXPECT_FALSE(root.empty()) << "OSTREL_TEST_DATA is not set";
#ifdef _WIN32
  if (!root.empty() && root[0] == '/') {
    root = "Z:" + root;
    for (auto& c : root) c = c == '/' ? '\\' : c;
  }
#endif
  return std::filesystem::path(root) / "zip" / name;
}

inline std::vector<std::uint8_t> ReadData(const std::string& name) {
  const std::string bytes = testutil::ReadBytes(DataFile(name));
  EXPECT_FALSE(bytes.empty()) << "missing test archive " << name;
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

// make_archives.py's compressible(size).
inline std::string Compressible(std::size_t size) {
  const std::string noise = testutil::PatternBytes(6144, 7);
  std::string block;
  for (const char c : noise) block += "ostrelhd \n"[static_cast<unsigned char>(c) % 10];
  std::string out;
  char number[16];
  for (int line = 0; out.size() < size; ++line) {
    std::snprintf(number, sizeof(number), "%08d ", line);
    out += number;
    out += block;
  }
  out.resize(size);
  return out;
}

// make_archives.py's letters(size).
inline std::string Letters(std::size_t size) {
  std::string out = testutil::PatternBytes(size, 11);
  for (auto& c : out) c = "abcdefgh"[static_cast<unsigned char>(c) % 8];
  return out;
}

}  // namespace ziptest
