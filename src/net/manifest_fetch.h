// Fetching the manifest from the update server and reading the reply.
#pragma once

#include <string>

#include "data/manifest.h"
#include "net/http_client.h"

// Reads the reply to a manifest request: a 200 reply's body as ParseManifest
// does, anything else fails with "HTTP <status>: <transport error>".
bool ReadManifestReply(const HttpResponse& reply, Manifest& manifest, std::string& error);

// Windows build: fetches `url` (10 s receive time-out) and reads the reply
// with ReadManifestReply.
bool FetchManifest(Manifest& manifest, const std::wstring& url, std::string& error);
// The same, from the update server's manifest address.
bool FetchManifest(Manifest& manifest, std::string& error);
