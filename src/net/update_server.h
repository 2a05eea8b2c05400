// Where the realm's update server lives: fixed when the launcher is built.
#pragma once

#include <string>

// The bare host name: the realm list written into Config.wtf and the target
// of the login-port probe, whatever port the HTTP addresses use.
std::string UpdateServerHost();

// scheme + "://" + host [+ ":" + port] + path: the build's settings
// OSTREL_UPDATE_SCHEME (http or https), OSTREL_UPDATE_HOST, OSTREL_UPDATE_PORT
// (empty: the scheme's own port, 80 or 443).
std::string UpdateServerUrl(const std::string& path);
std::string ServerUrl(const std::string& scheme, const std::string& host, const std::string& port,
                      const std::string& path);

// Whether the build reaches its update server over TLS.
bool UpdateServerIsSecure();

std::string ManifestUrl();  // /launcher/manifest.php (its signature: the same + ".sig")
std::string StatusUrl();    // /launcher/api/status.php
std::string NewsUrl();      // /launcher/api/news.php

// The realm's public key for manifest signatures, as the build option
// OSTREL_UPDATE_PUBLIC_KEY gives it (128 hex digits: X then Y); empty when
// the build checks no signatures.
std::string UpdatePublicKeyText();

// The game's login port, probed on the bare host.
constexpr unsigned short kLoginPort = 3724;

// The realm's name as the client's configuration carries it.
constexpr const char* kRealmName = "Ostrelhold";

// The launcher's own version, "major.minor.patch" as the build option
// OSTREL_LAUNCHER_VERSION gives it; a manifest naming a newer one triggers a
// self-update. Defined in update_server.cpp, so that a launcher build with
// other settings (cmake/tests.cmake) carries its own.
extern const char kLauncherVersion[];
