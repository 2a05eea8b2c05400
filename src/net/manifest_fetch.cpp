#include "net/manifest_fetch.h"

bool ReadManifestReply(const HttpResponse& reply, Manifest& manifest, std::string& error) {
  if (!reply.ok) {
    error = "HTTP " + std::to_string(reply.status) + ": " + reply.error;
    return false;
  }
  return ParseManifest(reply.body, manifest, error);
}
