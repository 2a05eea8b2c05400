#include "update/download_parts.h"

namespace {
const std::wstring kPartSuffix = L".ostrel-part";
const std::wstring kRecordSuffix = L".pieces";
}  // namespace

std::wstring DownloadPartOwner(const std::wstring& name) {
  for (size_t at = name.find(kPartSuffix); at != std::wstring::npos; at = name.find(kPartSuffix, at + 1)) {
    const size_t end = at + kPartSuffix.size();
    if (at > 0 && (end == name.size() || name[end] == L'.')) return name.substr(0, at);
  }
  return std::wstring();
}

std::wstring DownloadPartPath(const std::wstring& path) { return path + kPartSuffix; }

std::wstring PartRecordPath(const std::wstring& path) { return path + kPartSuffix + kRecordSuffix; }

std::wstring PartOfRecord(const std::wstring& path) {
  const std::wstring ending = kPartSuffix + kRecordSuffix;
  if (path.size() <= ending.size() || path.compare(path.size() - ending.size(), ending.size(), ending) != 0) return L"";
  return path.substr(0, path.size() - kRecordSuffix.size());
}
