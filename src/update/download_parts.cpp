#include "update/download_parts.h"

namespace {
const std::wstring kPartSuffix = L".ostrel-part";
}

std::wstring DownloadPartOwner(const std::wstring& name) {
  for (size_t at = name.find(kPartSuffix); at != std::wstring::npos; at = name.find(kPartSuffix, at + 1)) {
    const size_t end = at + kPartSuffix.size();
    if (at > 0 && (end == name.size() || name[end] == L'.')) return name.substr(0, at);
  }
  return std::wstring();
}

std::wstring DownloadPartPath(const std::wstring& path) { return path + kPartSuffix; }

std::wstring PartRecordPath(const std::wstring& path) { return path + kPartSuffix + L".pieces"; }
