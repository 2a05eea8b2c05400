#include <mutex>
#include <utility>

#include "base/text.h"
#include "log/log.h"
#include "net/ecdsa.h"
#include "net/manifest_fetch.h"
#include "net/update_server.h"

namespace {
constexpr std::uint32_t kManifestTimeoutMs = 10000;
constexpr std::uint64_t kManifestMaxBytes = 64 << 20;
constexpr std::uint64_t kSignatureMaxBytes = 4096;
constexpr std::uint32_t kNewsTimeoutMs = 8000;
}  // namespace

ManifestFetch FetchManifest(Manifest& manifest, const std::wstring& url, const std::string& public_key_text,
                            std::string& error) {
  const HttpResponse reply = HttpClient::Get(url, kManifestTimeoutMs, kManifestMaxBytes);
  if (public_key_text.empty()) return ReadManifestReply(reply, manifest, error);
  // No signature is asked for when the manifest itself did not come.
  const HttpResponse signature =
      reply.ok ? HttpClient::Get(url + L".sig", kManifestTimeoutMs, kSignatureMaxBytes) : HttpResponse{};
  return ReadSignedManifest(reply, signature, public_key_text, VerifyEcdsaP256, manifest, error);
}

HttpResponse FetchNews() {
  const std::wstring url = Widen(NewsUrl());
  const std::string key = UpdatePublicKeyText();
  HttpResponse news = HttpClient::Get(url, kNewsTimeoutMs, kNewsMaxBytes);
  const HttpResponse signature =
      news.ok && !key.empty() ? HttpClient::Get(url + L".sig", kNewsTimeoutMs, kSignatureMaxBytes) : HttpResponse{};
  return SignedNews(std::move(news), signature, key, VerifyEcdsaP256);
}

ManifestFetch FetchManifest(Manifest& manifest, std::string& error) {
  const std::string key = UpdatePublicKeyText();
  if (key.empty()) {
    static std::once_flag logged;
    std::call_once(logged, [] {
      Log::Info(L"Manifest signatures are not checked: this build has no update key (OSTREL_UPDATE_PUBLIC_KEY)");
    });
  }
  const ManifestFetch fetched = FetchManifest(manifest, Widen(ManifestUrl()), key, error);
  if (fetched == ManifestFetch::Loaded && UpdateServerIsSecure()) {
    // Allowed, for realms whose files sit on a plain mirror, but the player's
    // privacy and the unpinned parts are then in the clear.
    const std::string plain = PlainHttpDownload(manifest);
    static std::once_flag warned;
    if (!plain.empty()) {
      std::call_once(warned, [&] { Log::Warn(L"Manifest names plain-HTTP downloads: " + Widen(plain)); });
    }
  }
  return fetched;
}
