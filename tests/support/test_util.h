// Small helpers shared by the test programs (portable: they build natively
// and for Windows).
#pragma once

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace testutil {

// A fresh folder below the system's temporary folder, removed with its content.
class TempDir {
 public:
  TempDir() {
    static std::atomic<unsigned> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("ostrel-test-" + std::to_string(std::random_device{}()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::all, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::wstring wide() const { return path_.wstring(); }  // as the launcher's wide paths name it
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Deterministic pseudo-random bytes, so test files have real content.
inline std::string PatternBytes(size_t size, unsigned seed = 1) {
  std::string bytes(size, '\0');
  std::minstd_rand gen(seed);
  for (auto& b : bytes) b = static_cast<char>(gen() & 0xFF);
  return bytes;
}

inline std::string EnvOr(const char* name, const std::string& fallback = "") {
  const char* value = std::getenv(name);
  return value ? value : fallback;
}

// Writes `v` into `b` at `at` as `bytes` little-endian bytes (to damage a file format's field).
inline void PutLe(std::string& b, std::size_t at, std::uint64_t v, int bytes = 4) {
  for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

// A file of the source tree's tests/data folder. Under Wine the folder's Unix
// path is reached through the Z: drive.
inline std::filesystem::path TestDataPath(const std::string& relative) {
#ifdef OSTREL_TEST_DATA_DIR
  std::string folder = EnvOr("OSTREL_TEST_DATA", OSTREL_TEST_DATA_DIR);
#else
  std::string folder = EnvOr("OSTREL_TEST_DATA");
#endif
#ifdef _WIN32
  if (!folder.empty() && folder.front() == '/') {
    for (char& c : folder) c = (c == '/') ? '\\' : c;
    folder = "Z:" + folder;
  }
#endif
  return std::filesystem::path(folder) / relative;
}

// The Wine runner's test update server (test_server.py): its port ("" when none runs) and folder.
inline std::string TestServerPort() { return EnvOr("OSTREL_TEST_SERVER_PORT"); }
inline std::filesystem::path TestServerRoot() { return EnvOr("OSTREL_TEST_SERVER_ROOT"); }
inline std::string TestServerUrl(const std::string& path) { return "http://127.0.0.1:" + TestServerPort() + path; }

}  // namespace testutil
