// The archives of tests/data/zip, and the contents make_archives.py built their entries from.
#pragma once

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "test_util.h"

namespace ziptest {

inline std::filesystem::path DataFile(const std::string& name) { return testutil::TestDataPath("zip/" + name); }

inline std::string ReadData(const std::string& name) {
  std::string bytes = testutil::ReadBytes(DataFile(name));
  if (bytes.empty()) throw std::runtime_error("missing test archive " + name);
  return bytes;
}

// make_archives.py's compressible(size).
inline std::string Compressible(std::size_t size) {
  std::string block, out;
  for (const char c : testutil::PatternBytes(6144, 7)) block += "ostrelhd \n"[static_cast<unsigned char>(c) % 10];
  char number[16];
  for (int line = 0; out.size() < size; ++line) {
    std::snprintf(number, sizeof(number), "%08d ", line);
    out += number + block;
  }
  out.resize(size);
  return out;
}

}  // namespace ziptest
