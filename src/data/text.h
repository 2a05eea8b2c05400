// The launcher's two text forms: 8-bit (JSON, HTTP bodies, Config.wtf) and
// wide (what the player sees, paths).
#pragma once

#include <string>

// Each byte becomes the UTF-16 unit of the same value (no UTF-8 decoding).
std::wstring Widen(const std::string& bytes);

// Keeps the low byte of each wide unit.
std::string NarrowLowBytes(const std::wstring& text);
