// libFuzzer target: any byte string is read as a Windows program's version
// block or refused with a reason, never read past its end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "publish/pe_version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  PeFileVersion version{};
  std::string problem;
  if (!ReadPeFileVersion(std::string_view(reinterpret_cast<const char*>(data), size), version, problem) &&
      problem.empty()) {
    std::abort();
  }
  return 0;
}
