// SHA-256 blocks on the x86 SHA extensions (SHA-NI), several times faster than
// portable code. Compiled for every x86-64 build, run only where the
// processor reports the extensions, so the program still runs on one without.
#pragma once

#include <cstddef>
#include <cstdint>

// True when this processor has the SHA extensions and SSSE3 and SSE4.1 (CPUID).
bool HasShaExtensions();

// Compresses `count` 64-byte blocks at `data` into `state`; only where HasShaExtensions().
void Sha256BlocksShaExtensions(std::uint32_t state[8], const std::uint8_t* data, std::size_t count);
