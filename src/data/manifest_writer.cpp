#include "data/manifest_writer.h"

namespace {

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string Member(const char* key, const std::string& value) { return Quoted(key) + ": " + value; }
std::string Text(const char* key, const std::string& value) { return Member(key, Quoted(value)); }
std::string Number(const char* key, std::int64_t value) { return Member(key, std::to_string(value)); }

std::string GameFileJson(const GameFile& file) {
  std::string out = "{" + Text("path", file.path) + ", " + Number("size", file.size) + ", " + Text("md5", file.md5);
  if (!file.sha256.empty()) out += ", " + Text("sha256", file.sha256);
  out += ", " + Text("cdn_url", file.cdn_url);
  if (!file.required) out += ", " + Member("required", "false");
  if (!file.extract_to.empty()) out += ", " + Text("extract_to", file.extract_to);
  const BlockMapRef& map = file.block_map;
  if (!map.url.empty()) {
    out += ", " + Member("block_map", "{" + Text("url", map.url) + ", " + Number("size", map.size) + ", " +
                                          Text("md5", map.md5) + ", " + Text("sha256", map.sha256) + "}");
  }
  return out + "}";
}

}  // namespace

std::string ManifestJson(const Manifest& manifest) {
  std::string out = "{\n";
  if (!manifest.launcher_version.empty()) {
    out += "  " + Text("launcher_version", manifest.launcher_version) + ",\n";
    out += "  " + Text("launcher_url", manifest.launcher_url) + ",\n";
    out += "  " + Text("launcher_md5", manifest.launcher_md5) + ",\n";
    if (!manifest.launcher_sha256.empty()) out += "  " + Text("launcher_sha256", manifest.launcher_sha256) + ",\n";
  }
  if (!manifest.realmList.empty() || !manifest.realmName.empty()) {
    out += "  " +
           Member("config",
                  "{" + Text("realmList", manifest.realmList) + ", " + Text("realmName", manifest.realmName) + "}") +
           ",\n";
  }
  const ClientPackage& client = manifest.wow_client;
  if (!client.url.empty()) {
    out += "  " +
           Member("wow_client", "{" + Text("url", client.url) + ", " + Number("size", client.size) + ", " +
                                    Text("md5", client.md5) + ", " + Text("dir_name", client.dir_name) + "}") +
           ",\n";
  }
  out += "  \"game_files\": [";
  for (std::size_t i = 0; i < manifest.game_files.size(); ++i) {
    out += (i == 0 ? "\n    " : ",\n    ") + GameFileJson(manifest.game_files[i]);
  }
  out += manifest.game_files.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}
