#include "net/update_server.h"

#include "build_config.h"

const char kLauncherVersion[] = OSTREL_LAUNCHER_VERSION;

std::string UpdateServerHost() { return OSTREL_UPDATE_HOST; }
std::string UpdatePublicKeyText() { return OSTREL_UPDATE_PUBLIC_KEY; }

std::string ServerUrl(const std::string& scheme, const std::string& host, const std::string& port,
                      const std::string& path) {
  std::string url = scheme + "://" + host;
  if (!port.empty()) url += ":" + port;
  return url + path;
}

std::string UpdateServerUrl(const std::string& path) {
  return ServerUrl(OSTREL_UPDATE_SCHEME, UpdateServerHost(), OSTREL_UPDATE_PORT, path);
}

bool UpdateServerIsSecure() { return std::string(OSTREL_UPDATE_SCHEME) == "https"; }

std::string ManifestUrl() { return UpdateServerUrl("/launcher/manifest.php"); }
std::string StatusUrl() { return UpdateServerUrl("/launcher/api/status.php"); }
std::string NewsUrl() { return UpdateServerUrl("/launcher/api/news.php"); }
