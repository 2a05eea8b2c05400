#include "data/text.h"

std::wstring Widen(const std::string& bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  for (char c : bytes) out += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return out;
}

std::string NarrowLowBytes(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) out += static_cast<char>(static_cast<unsigned long>(c) & 0xFF);
  return out;
}
