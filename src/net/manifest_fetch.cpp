#include "net/manifest_fetch.h"

#include "base/text.h"
#include "net/http_url.h"

namespace {

std::string HttpFailure(const HttpResponse& reply) {
  return "HTTP " + std::to_string(reply.status) + ": " + reply.error;
}

// A reply that is not the document: the TLS failure's own text, or `what` and the status.
ManifestFetch Unanswered(const HttpResponse& reply, const std::string& what, std::string& error) {
  if (reply.tls != TlsFailure::None) {
    error = reply.error;
    return ManifestFetch::TlsFailed;
  }
  error = what + HttpFailure(reply);
  return ManifestFetch::Failed;
}

bool IsPlainHttp(const std::string& url) {
  UrlParts parts;
  return SplitUrl(Widen(url), parts) && !parts.secure;
}

}  // namespace

std::string SignatureProblem(const std::string& what, const std::string& body, const HttpResponse& signature_reply,
                             const std::string& public_key_text, const SignatureCheck& check) {
  EcdsaPublicKey key;
  EcdsaSignature signature;
  std::string reason;
  if (!ParseHex64(public_key_text, key, reason)) return "the built-in update key is malformed: " + reason;
  if (!signature_reply.ok) return what + " signature missing: " + HttpFailure(signature_reply);
  if (!ParseHex64(signature_reply.body, signature, reason)) return what + " signature malformed: " + reason;
  if (!check(body, key, signature)) return what + " signature invalid: not this realm's signature of this " + what;
  return "";
}

HttpResponse SignedNews(HttpResponse news, const HttpResponse& signature_reply, const std::string& public_key_text,
                        const SignatureCheck& check) {
  if (!news.ok || public_key_text.empty()) return news;
  const std::string problem = SignatureProblem("news", news.body, signature_reply, public_key_text, check);
  if (!problem.empty()) {
    news.ok = false;
    news.refused = true;
    news.error = problem;
    news.body.clear();
  }
  return news;
}

ManifestFetch ReadManifestReply(const HttpResponse& reply, Manifest& manifest, std::string& error) {
  if (!reply.ok) return Unanswered(reply, "", error);
  return ParseManifest(reply.body, manifest, error) ? ManifestFetch::Loaded : ManifestFetch::Failed;
}

std::string PlainHttpDownload(const Manifest& manifest) {
  for (const GameFile& file : manifest.game_files) {
    if (IsPlainHttp(file.cdn_url)) return file.cdn_url;
  }
  for (const std::string* url : {&manifest.launcher_url, &manifest.wow_client.url}) {
    if (IsPlainHttp(*url)) return *url;
  }
  return "";
}

std::string UnpinnedDownload(const Manifest& manifest) {
  for (const GameFile& file : manifest.game_files) {
    if (file.md5.empty() && file.sha256.empty()) return file.path;
    const BlockMapRef& map = file.block_map;
    if (!map.url.empty() && map.md5.empty() && map.sha256.empty()) return file.path + " block_map";
  }
  if (!manifest.launcher_url.empty() && manifest.launcher_md5.empty() && manifest.launcher_sha256.empty()) {
    return "launcher_url";
  }
  if (!manifest.wow_client.url.empty() && manifest.wow_client.md5.empty()) return "wow_client";
  return "";
}

ManifestFetch ReadSignedManifest(const HttpResponse& manifest_reply, const HttpResponse& signature_reply,
                                 const std::string& public_key_text, const SignatureCheck& check, Manifest& manifest,
                                 std::string& error) {
  if (!manifest_reply.ok) return Unanswered(manifest_reply, "", error);
  if (signature_reply.status == 0) return Unanswered(signature_reply, "signature: ", error);
  error = SignatureProblem("manifest", manifest_reply.body, signature_reply, public_key_text, check);
  if (error.empty()) {
    Manifest signed_manifest = manifest;
    if (!ParseManifest(manifest_reply.body, signed_manifest, error)) return ManifestFetch::Failed;
    const std::string unpinned = UnpinnedDownload(signed_manifest);
    if (unpinned.empty()) {
      manifest = std::move(signed_manifest);
      return ManifestFetch::Loaded;
    }
    error = "signed manifest gives no digest for " + unpinned;
  }
  return ManifestFetch::Rejected;
}
