#include "net/update_server.h"

#include "build_config.h"

std::string UpdateServerHost() { return OSTREL_UPDATE_HOST; }
std::string UpdatePublicKeyText() { return OSTREL_UPDATE_PUBLIC_KEY; }

std::string UpdateServerUrl(const std::string& path) {
  std::string url = "http://" + UpdateServerHost();
  const std::string port = OSTREL_UPDATE_PORT;
  if (!port.empty()) url += ":" + port;
  return url + path;
}

std::string ManifestUrl() { return UpdateServerUrl("/launcher/manifest.php"); }
std::string StatusUrl() { return UpdateServerUrl("/launcher/api/status.php"); }
std::string NewsUrl() { return UpdateServerUrl("/launcher/api/news.php"); }
