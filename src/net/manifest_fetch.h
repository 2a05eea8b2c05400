// Fetching the manifest from the update server and reading the reply; with a
// realm key built in, only a manifest that carries the realm's signature is
// read at all.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "data/manifest.h"
#include "data/signature_text.h"
#include "net/http_client.h"

// How a fetch ended. Rejected: the server answered, but the manifest is not
// the realm's (its signature is missing, malformed or wrong, or it leaves a
// download unpinned by a digest); nothing in it may be used. TlsFailed: no
// trusted secure connection to the server came about; the error text is the
// player's (a certificate refused, or the secure connection failed).
enum class ManifestFetch { Loaded, Failed, Rejected, TlsFailed };

// Reads the reply to a manifest request: a 200 reply's body as ParseManifest
// does; a TLS failure as TlsFailed; anything else fails with
// "HTTP <status>: <transport error>".
ManifestFetch ReadManifestReply(const HttpResponse& reply, Manifest& manifest, std::string& error);

// Whether `signature` is the key's signature of `message` (SHA-256, ECDSA P-256).
using SignatureCheck =
    std::function<bool(const std::string& message, const EcdsaPublicKey& key, const EcdsaSignature& signature)>;

// Reads a signed manifest from the replies to the manifest and its signature
// document: the signature is checked over the manifest's exact bytes before
// any of them is parsed. `public_key_text` is the build option's text. A
// signature request that got no reply at all counts as Failed (the server is
// unreachable), any other reply but a valid signature as Rejected. `manifest`
// changes only on Loaded.
ManifestFetch ReadSignedManifest(const HttpResponse& manifest_reply, const HttpResponse& signature_reply,
                                 const std::string& public_key_text, const SignatureCheck& check, Manifest& manifest,
                                 std::string& error);

// Why `signature_reply` is not the realm's signature of `body` ("" when it
// is); `what` names the document in the text ("manifest", "news").
std::string SignatureProblem(const std::string& what, const std::string& body, const HttpResponse& signature_reply,
                             const std::string& public_key_text, const SignatureCheck& check);

// The news reply as the launcher may use it: with a key, a reply whose
// signature (the news address + ".sig") is not valid is not ok, its error
// says why and its body is dropped. Without a key the reply as it came.
HttpResponse SignedNews(HttpResponse news, const HttpResponse& signature_reply, const std::string& public_key_text,
                        const SignatureCheck& check);

// The most of a news reply the launcher reads.
constexpr std::uint64_t kNewsMaxBytes = 1 << 20;

// Windows build: the news (at most kNewsMaxBytes, 8 s receive time-out) and, with the
// built-in key, its signature, read as above.
HttpResponse FetchNews();

// The first download a manifest names without a digest to check it by, or
// empty: a signature vouches only for what the manifest pins by digest.
std::string UnpinnedDownload(const Manifest& manifest);

// The first download address a manifest gives over plain http://, or empty.
std::string PlainHttpDownload(const Manifest& manifest);

// Windows build: fetches `url` (10 s receive time-out) and, when
// `public_key_text` is not empty, `url` + ".sig", and reads them as above.
ManifestFetch FetchManifest(Manifest& manifest, const std::wstring& url, const std::string& public_key_text,
                            std::string& error);
// The same, from the update server's manifest address with the built-in key.
// A build without a key logs once that signatures are not checked; an https
// build logs once (WARN) that a manifest names plain-http downloads.
ManifestFetch FetchManifest(Manifest& manifest, std::string& error);
