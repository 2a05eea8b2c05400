// The launcher's two text forms: 8-bit (JSON, HTTP bodies, Config.wtf) and
// wide (what the player sees, paths), and UTF-8 where non-ASCII text must
// survive a trip through an 8-bit file.
#pragma once

#include <string>

// Each byte becomes the UTF-16 unit of the same value (no UTF-8 decoding).
std::wstring Widen(const std::string& bytes);

// Keeps the low byte of each wide unit.
std::string NarrowLowBytes(const std::wstring& text);

// UTF-8 of wide text: surrogate pairs become one character; an unpaired
// surrogate (which Windows file names may hold) is encoded as it stands, so
// WideFromUtf8 gives it back.
std::string Utf8FromWide(const std::wstring& text);

// Strict UTF-8 (shortest forms, up to U+10FFFF) to wide text; false, with
// `out` unspecified, for anything else. Encoded surrogates are accepted only
// when asked for: Utf8FromWide writes them for names Windows allows, but a
// file name from an archive has no business holding one.
bool WideFromUtf8(const std::string& bytes, std::wstring& out, bool allow_encoded_surrogates = true);
