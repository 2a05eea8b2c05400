// The ZIP archives of tests/data/zip (made by make_archives.py there) and the
// contents their entries were made from, rebuilt the same way.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "test_util.h"

namespace ziptest {

// A file of the test data folder. OSTREL_TEST_DATA is a Unix path; a
// Windows build under Wine reaches it through Z:.
inline std::filesystem::path DataFile(const std::string& name) { return testutil::TestDataPath("zip/" + name); }

inline std::vector<std::uint8_t> ReadData(const std::string& name) {
  const std::string bytes = testutil::ReadBytes(DataFile(name));
  if (bytes.empty()) throw std::runtime_error("missing test archive " + name);
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
