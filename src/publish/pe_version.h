// The file version in a Windows program's version block, read from the
// program's bytes without a Windows call, so that ostrel-manifest reads a
// launcher build's version on Linux too. The bytes come from an operator-given
// file: every offset is checked before it is followed, the resource tree is
// walked three fixed levels deep (type, name, language) with no recursion, and
// a damaged or foreign file is refused with a reason, never read past its end.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// Four numbers, as Windows shows them: 1.2.3.0.
using PeFileVersion = std::array<std::uint16_t, 4>;

// Reads the file version of the first version resource (RT_VERSION) of the
// PE image `image` (a whole .exe or .dll as it lies on disk). False, with
// `problem` saying what is missing or damaged, when there is none.
bool ReadPeFileVersion(std::string_view image, PeFileVersion& version, std::string& problem);

// "1.2.3.0"
std::string PeFileVersionText(const PeFileVersion& version);
