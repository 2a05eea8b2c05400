// libFuzzer target: any byte string must parse or throw a standard exception,
// never crash, hang or trip a sanitizer.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "data/json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const JsonValue value = ParseJson(std::string(reinterpret_cast<const char*>(data), size));
    (void)value.Get("launcher_version").At(0).text.size();
  } catch (const std::exception&) {
  }
  return 0;
}
