#include "net/sha256_x86.h"

#include "net/sha256.h"
#include "net/sha256_constants.h"

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__) || defined(_M_IX86)
#define OSTREL_X86 1
#include <immintrin.h>
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
// MSVC offers every intrinsic in every function.
#define OSTREL_SHA_TARGET
#else
#include <cpuid.h>
// GCC and clang compile these functions, and only these, for the extensions;
// the rest of the program stays plain x86-64.
#define OSTREL_SHA_TARGET __attribute__((target("sha,sse4.1")))
#endif
#endif

#ifdef OSTREL_X86

namespace {

// CPUID leaf `leaf` (sub-leaf 0) into abcd; false when the processor has no such leaf.
bool Cpuid(unsigned leaf, unsigned (&abcd)[4]) {
#if defined(_MSC_VER) && !defined(__clang__)
  int regs[4];
  __cpuid(regs, 0);
  if (static_cast<unsigned>(regs[0]) < leaf) return false;
  __cpuidex(regs, static_cast<int>(leaf), 0);
  for (int i = 0; i < 4; ++i) abcd[i] = static_cast<unsigned>(regs[i]);
  return true;
#else
  return __get_cpuid_count(leaf, 0, &abcd[0], &abcd[1], &abcd[2], &abcd[3]) != 0;
#endif
}

// The message words of the group after a, b, c, d (each four words of the
// schedule, a the oldest): W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16].
OSTREL_SHA_TARGET inline __m128i NextWords(__m128i a, __m128i b, __m128i c, __m128i d) {
  const __m128i partial = _mm_add_epi32(_mm_sha256msg1_epu32(a, b), _mm_alignr_epi8(d, c, 4));
  return _mm_sha256msg2_epu32(partial, d);
}

// Four rounds with the message words `words` and round constants from `group` * 4 on.
OSTREL_SHA_TARGET inline void FourRounds(__m128i& abef, __m128i& cdgh, __m128i words, int group) {
  const __m128i sums =
      _mm_add_epi32(words, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kSha256Rounds + 4 * group)));
  cdgh = _mm_sha256rnds2_epu32(cdgh, abef, sums);  // two rounds: the old ABEF becomes CDGH
  abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(sums, 0x0E));
}

}  // namespace

bool HasShaExtensions() {
  unsigned leaf1[4], leaf7[4];
  if (!Cpuid(1, leaf1) || !Cpuid(7, leaf7)) return false;
  const bool ssse3 = (leaf1[2] >> 9 & 1) != 0, sse41 = (leaf1[2] >> 19 & 1) != 0, sha = (leaf7[1] >> 29 & 1) != 0;
  return ssse3 && sse41 && sha;
}

OSTREL_SHA_TARGET void Sha256BlocksShaExtensions(std::uint32_t state[8], const std::uint8_t* data, std::size_t count) {
  // The instructions keep the state as A B E F and C D G H, highest lane first.
  const __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  const __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
  const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
  // Message words are big-endian.
  const __m128i swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);

  for (; count > 0; --count, data += 64) {
    const __m128i abef_before = abef, cdgh_before = cdgh;
    const auto* words = reinterpret_cast<const __m128i*>(data);
    __m128i w0 = _mm_shuffle_epi8(_mm_loadu_si128(words), swap);
    __m128i w1 = _mm_shuffle_epi8(_mm_loadu_si128(words + 1), swap);
    __m128i w2 = _mm_shuffle_epi8(_mm_loadu_si128(words + 2), swap);
    __m128i w3 = _mm_shuffle_epi8(_mm_loadu_si128(words + 3), swap);
    FourRounds(abef, cdgh, w0, 0);
    FourRounds(abef, cdgh, w1, 1);
    FourRounds(abef, cdgh, w2, 2);
    FourRounds(abef, cdgh, w3, 3);
    for (int group = 4; group < 16; group += 4) {
      w0 = NextWords(w0, w1, w2, w3);
      FourRounds(abef, cdgh, w0, group);
      w1 = NextWords(w1, w2, w3, w0);
      FourRounds(abef, cdgh, w1, group + 1);
      w2 = NextWords(w2, w3, w0, w1);
      FourRounds(abef, cdgh, w2, group + 2);
      w3 = NextWords(w3, w0, w1, w2);
      FourRounds(abef, cdgh, w3, group + 3);
    }
    abef = _mm_add_epi32(abef, abef_before);
    cdgh = _mm_add_epi32(cdgh, cdgh_before);
  }

  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

#else  // not x86: no extensions to use

bool HasShaExtensions() { return false; }

void Sha256BlocksShaExtensions(std::uint32_t state[8], const std::uint8_t* data, std::size_t count) {
  Sha256BlocksPortable(state, data, count);
}

#endif
