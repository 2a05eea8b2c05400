// ostrel-manifest: the realm operator's manifest generator (see --help and
// docs/OPERATORS.md). The work is done by RunManifestGenerator in src/publish,
// which the tests run directly.
#include <iostream>
#include <string>
#include <vector>

#include "base/text.h"
#include "publish/manifest_generator.h"

#ifdef _WIN32
// Wide arguments, so names outside the ANSI code page arrive whole.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8FromWide(argv[i]));
  return RunManifestGenerator(args, std::cout, std::cerr);
}
#else
int main(int argc, char** argv) {
  return RunManifestGenerator(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
#endif
