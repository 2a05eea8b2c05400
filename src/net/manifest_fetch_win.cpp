#include "base/text.h"
#include "net/manifest_fetch.h"
#include "net/update_server.h"

namespace {
constexpr std::uint32_t kManifestTimeoutMs = 10000;
}

bool FetchManifest(Manifest& manifest, const std::wstring& url, std::string& error) {
  return ReadManifestReply(HttpClient::Get(url, kManifestTimeoutMs), manifest, error);
}

bool FetchManifest(Manifest& manifest, std::string& error) {
  return FetchManifest(manifest, Widen(ManifestUrl()), error);
}
