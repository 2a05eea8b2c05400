#include "publish/manifest_generator.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>
#include <system_error>
#include <type_traits>
#include <utility>

#include "base/hex.h"
#include "base/text.h"
#include "data/manifest_path.h"
#include "data/manifest_writer.h"
#include "data/news.h"
#include "delta/block_map.h"
#include "net/file_check.h"
#include "net/http_url.h"
#include "net/manifest_fetch.h"
#include "net/md5.h"
#include "net/sha256.h"
#include "net/stream_digests.h"
#include "publish/manifest_signer.h"
#include "publish/pe_version.h"

namespace fs = std::filesystem;

namespace {

// A launcher build is a few MiB; a file far larger is none (its version block
// is read from the file as a whole).
constexpr std::uintmax_t kLauncherMaxBytes = 64u << 20;

struct Options {
  std::string realm_folder;
  std::string out = "manifest.php";
  std::string files_url;
  std::vector<std::pair<std::string, std::string>> extracts;  // path, folder
  std::string launcher_file, launcher_version, launcher_url;
  std::string client_file, client_url, client_dir;
  std::string realm_list, realm_name;
  std::string check;
  std::string key, make_key, sign, sign_news;
  bool help = false;
};

// What the generator learns from reading one file.
struct FileFacts {
  std::int64_t size = 0;
  std::string md5, sha256;
  std::string head;       // the first four bytes, to recognise a ZIP archive
  std::string block_map;  // its bytes, when one was asked for
};

// Arguments and the names in the manifest are UTF-8; Windows paths are wide,
// Linux paths are the bytes as they stand.
fs::path PathOf(const std::string& utf8) {
  if constexpr (std::is_same_v<fs::path::value_type, wchar_t>) {
    std::wstring wide;
    if (WideFromUtf8(utf8, wide)) return fs::path(wide);
  }
  return fs::path(utf8);
}

std::string Utf8Of(const fs::path& path) {
  if constexpr (std::is_same_v<fs::path::value_type, wchar_t>) {
    return Utf8FromWide(path.generic_wstring());
  } else {
    return path.generic_string();
  }
}

// Reads the file once for its size, digests and, given a block size, its block map.
bool ReadFacts(const fs::path& path, FileFacts& facts, std::uint32_t map_block_size = 0) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::optional<BlockMapBuilder> map;
  if (map_block_size != 0) map.emplace(map_block_size);
  facts = FileFacts{};
  const ReadPiece read = [&](unsigned char* into, std::size_t size) -> std::size_t {
    in.read(reinterpret_cast<char*>(into), static_cast<std::streamsize>(size));
    const auto got = static_cast<std::size_t>(in.gcount());
    if (facts.head.size() < 4) {
      facts.head.append(reinterpret_cast<const char*>(into), std::min<std::size_t>(got, 4 - facts.head.size()));
    }
    if (map) map->Update(into, got);
    facts.size += static_cast<std::int64_t>(got);
    return got;
  };
  DigestBuffer buffer;
  const std::optional<FileDigests> digests = DigestStream(read, true, true, buffer, nullptr);
  if (in.bad() || !digests) return false;
  facts.md5 = digests->md5;
  facts.sha256 = digests->sha256;
  if (map) {
    std::array<std::uint8_t, 16> md5{};
    std::array<std::uint8_t, 32> sha256{};
    BytesFromHex(facts.md5, md5);
    BytesFromHex(facts.sha256, sha256);
    facts.block_map = map->Finish(md5, sha256);
  }
  return true;
}

bool IsPrintableAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

bool IsHex(const std::string& text, std::size_t length) {
  return text.size() == length && std::all_of(text.begin(), text.end(), [](char c) { return HexValue(c) >= 0; });
}

// Three decimal numbers separated by dots, nothing else: the form every
// launcher reads the same way.
bool IsPlainVersion(const std::string& text) {
  int numbers = 0;
  std::size_t digits = 0;
  for (const char c : text + ".") {
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c == '.' && digits > 0 && digits <= 9) {
      ++numbers;
      digits = 0;
    } else {
      return false;
    }
  }
  return numbers == 3;
}

bool IsDownloadUrl(const std::string& url) {
  UrlParts parts;
  return IsPrintableAscii(url) && SplitUrl(Widen(url), parts);
}

// Keeps what an address may hold as it stands and escapes every other byte,
// so names with blanks or '#' reach the server whole.
std::string UrlEscaped(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
        std::string("-._~/").find(c) != std::string::npos) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    }
  }
  return out;
}

std::string WithoutTrailingSlash(std::string url) {
  while (!url.empty() && url.back() == '/') url.pop_back();
  return url;
}

class Problems {
 public:
  void Add(const std::string& subject, const std::string& reason) { list_.push_back(subject + ": " + reason); }
  void Text(const std::string& label, const std::string& text) {
    if (!IsPrintableAscii(text)) Add(label, "only printable ASCII reaches the launcher unchanged");
  }
  void Digest(const std::string& label, const std::string& md5, const std::string& sha256 = "") {
    if (!md5.empty() && !IsHex(md5, 32)) Add(label, "an MD5 digest is 32 hexadecimal digits");
    if (!sha256.empty() && !IsHex(sha256, 64)) Add(label, "a SHA-256 digest is 64 hexadecimal digits");
  }
  void Url(const std::string& label, const std::string& url) {
    if (!IsDownloadUrl(url)) Add(label, "not an http:// or https:// address the launcher can fetch");
  }
  std::vector<std::string> Take() { return std::move(list_); }

 private:
  std::vector<std::string> list_;
};

// A map entry the launcher can fetch, bound and verify.
void CheckBlockMap(const GameFile& file, Problems& problems) {
  const BlockMapRef& map = file.block_map;
  if (map.url.empty()) return;
  const std::string label = file.path + " block_map";
  problems.Text(label, map.url);
  if (IsPrintableAscii(map.url)) problems.Url(label, ResolveUrlReference(file.cdn_url, map.url));
  if (map.md5.empty() || map.sha256.empty()) problems.Add(label, "needs its MD5 and its SHA-256");
  problems.Digest(label, map.md5, map.sha256);
  if (file.size <= 0) {
    problems.Add(label, "a block map needs the file's size");
  } else if (map.size <= 0 ||
             static_cast<std::uint64_t>(map.size) > BlockMapBoundFor(static_cast<std::uint64_t>(file.size))) {
    problems.Add(label, "size " + std::to_string(map.size) + " is not within its bound of " +
                            std::to_string(BlockMapBoundFor(static_cast<std::uint64_t>(file.size))) +
                            " bytes (1 % of the file plus 1 MiB)");
  }
}

void CheckGameFiles(const Manifest& manifest, Problems& problems) {
  std::map<std::string, std::string> seen;     // key -> the path that claimed it
  std::map<std::string, std::string> folders;  // key of each folder a path needs -> that path
  for (const GameFile& file : manifest.game_files) {
    const std::string key = ManifestPathKey(file.path);
    for (std::size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1)) {
      folders.emplace(key.substr(0, slash), file.path);
    }
  }
  for (const GameFile& file : manifest.game_files) {
    const std::string& path = file.path;
    problems.Text("path " + path, path);
    if (const char* problem = ManifestPathProblem(path)) problems.Add(path, problem);
    if (!file.extract_to.empty()) {
      problems.Text(path + " extract_to", file.extract_to);
      if (const char* problem = ManifestPathProblem(file.extract_to)) {
        problems.Add(path, std::string("extract_to \"") + file.extract_to + "\": " + problem);
      }
    }
    if (file.size < 0) problems.Add(path, "negative size");
    problems.Digest(path, file.md5, file.sha256);
    problems.Url(path + " cdn_url", file.cdn_url);
    CheckBlockMap(file, problems);
    const std::string key = ManifestPathKey(path);
    if (const auto folder = folders.find(key); folder != folders.end()) {
      problems.Add(path, "a file where " + folder->second + " needs a folder");
    }
    const auto [earlier, fresh] = seen.emplace(key, path);
    if (!fresh) {
      problems.Add(path, earlier->second == path
                             ? std::string("listed twice")
                             : "names the same file as " + earlier->second + " (Windows ignores letter case)");
    }
  }
}

}  // namespace

std::vector<std::string> ManifestProblems(const Manifest& manifest) {
  Problems problems;
  if (!manifest.launcher_version.empty()) {
    if (!IsPlainVersion(manifest.launcher_version)) {
      problems.Add("launcher_version", "write it as major.minor.patch, for example 1.0.1");
    }
    problems.Url("launcher_url", manifest.launcher_url);
    problems.Digest("launcher digest", manifest.launcher_md5, manifest.launcher_sha256);
  }
  problems.Text("realmList", manifest.realmList);
  problems.Text("realmName", manifest.realmName);
  const ClientPackage& client = manifest.wow_client;
  if (!client.url.empty()) {
    problems.Url("wow_client url", client.url);
    if (client.size < 0) problems.Add("wow_client", "negative size");
    problems.Digest("wow_client md5", client.md5);
    problems.Text("wow_client dir_name", client.dir_name);
  }
  CheckGameFiles(manifest, problems);
  return problems.Take();
}

std::string ManifestGeneratorUsage() {
  return R"(Usage: ostrel-manifest [options] REALM_FOLDER
       ostrel-manifest --check MANIFEST
       ostrel-manifest --sign MANIFEST --key KEY
       ostrel-manifest --make-key KEY

Writes the update manifest (manifest.php) for the files in REALM_FOLDER, a
folder laid out like the game client (Data/..., Interface/...). Every file in
it becomes a game file entry with its size, digests and download address.
Names the launcher would refuse (device names such as CON or nul.txt, the
characters <>:"|?*, names ending in a dot or blank, non-ASCII names, names
that differ only in letter case) stop the generator with a message and exit
code 1; nothing is written then.

  --out FILE             where to write the manifest (default: manifest.php);
                         written whole or not at all
  --files-url URL        address at which REALM_FOLDER is published (required);
                         each entry downloads from URL/<path>?v=<digest>, so a
                         changed file gets a new address and caches never mix
                         old and new bytes
  --extract PATH=FOLDER  the ZIP archive PATH (as listed) is unpacked into
                         FOLDER, relative to the client folder; repeatable
  --launcher FILE        the current launcher build (OstrelLauncher.exe)
  --launcher-version V   its version, major.minor.patch (with --launcher);
                         read from the build's version block when left out,
                         refused when it disagrees with that block
  --launcher-url URL     where players download it (with --launcher)
  --client-file FILE     the full client archive offered to players who have
                         no client
  --client-url URL       where players download it (with --client-file)
  --client-dir NAME      the client folder's name inside that archive
  --realm-list HOST      the realm list address (config / realmList)
  --realm-name NAME      the realm's name (config / realmName)
  --key KEY              sign the manifest with the realm's private key KEY:
                         writes the signature document next to it (OUT.sig)
  --check MANIFEST       check an existing manifest, write nothing
  --sign MANIFEST        check and sign an existing manifest (with --key)
  --sign-news NEWS       check and sign the news document NEWS (with --key):
                         writes NEWS.sig, which a launcher with a key needs
                         before it shows the news
  --make-key KEY         make a new key pair: the private key goes to KEY
                         (a new file), the public key to KEY.pub, in the form
                         the launcher's OSTREL_UPDATE_PUBLIC_KEY option takes
  --help                 this text

Every file of 16 MiB or more gets a block map beside it in REALM_FOLDER
(<file>.ostrel-map), named in its entry ("block_map"): with it a launcher
that holds an older copy of the file fetches only the blocks that changed.
Publish the maps with the files (the tool writes them before the manifest);
names ending in .ostrel-map are never game files, and a map whose file is
gone or now smaller is removed. --check checks the map entries too.

Every entry also gets its SHA-256, which the launcher checks in addition to
the MD5. Keep KEY off the web server: whoever holds it can sign manifests
that every player's launcher accepts. Signing uses BCrypt on Windows and the
openssl command on Linux.

Exit codes: 0 written (or no problem found), 1 refused, 2 wrong usage.
)";
}

namespace {

bool ParseOptions(const std::vector<std::string>& args, Options& o, std::string& error) {
  const std::map<std::string, std::string*> values = {
      {"--out", &o.out},
      {"--files-url", &o.files_url},
      {"--launcher", &o.launcher_file},
      {"--launcher-version", &o.launcher_version},
      {"--launcher-url", &o.launcher_url},
      {"--client-file", &o.client_file},
      {"--client-url", &o.client_url},
      {"--client-dir", &o.client_dir},
      {"--realm-list", &o.realm_list},
      {"--realm-name", &o.realm_name},
      {"--check", &o.check},
      {"--key", &o.key},
      {"--make-key", &o.make_key},
      {"--sign", &o.sign},
      {"--sign-news", &o.sign_news},
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      o.help = true;
      return true;
    }
    const auto value = values.find(arg);
    if (value != values.end() || arg == "--extract") {
      if (i + 1 == args.size()) {
        error = arg + " needs a value";
        return false;
      }
      const std::string& given = args[++i];
      if (value != values.end()) {
        *value->second = given;
        continue;
      }
      const std::size_t equals = given.find('=');
      if (equals == std::string::npos || equals == 0 || equals + 1 == given.size()) {
        error = "--extract takes PATH=FOLDER, not " + given;
        return false;
      }
      o.extracts.emplace_back(given.substr(0, equals), given.substr(equals + 1));
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option " + arg;
      return false;
    } else if (o.realm_folder.empty()) {
      o.realm_folder = arg;
    } else {
      error = "more than one realm folder: " + o.realm_folder + ", " + arg;
      return false;
    }
  }
  if (!o.make_key.empty()) return true;
  if (!o.sign.empty() && o.key.empty()) error = "--sign needs --key";
  if (!o.sign_news.empty() && o.key.empty()) error = "--sign-news needs --key";
  if (!o.check.empty() || !o.sign.empty() || !o.sign_news.empty()) return error.empty();
  if (o.realm_folder.empty()) error = "no realm folder given";
  if (o.files_url.empty()) error = "--files-url is required";
  if (!o.launcher_file.empty() && o.launcher_url.empty()) error = "--launcher needs --launcher-url";
  if (o.launcher_file.empty() && !(o.launcher_version.empty() && o.launcher_url.empty())) {
    error = "--launcher-version and --launcher-url need --launcher (the build, for its digest)";
  }
  if (o.client_file.empty() != o.client_url.empty()) error = "--client-file and --client-url go together";
  return error.empty();
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Every file below `root`, by path relative to it ("/" separated), in byte
// order; block maps (which this tool writes) apart, in `maps`.
bool ListRealmFiles(const fs::path& root, std::map<std::string, fs::path>& files, std::vector<fs::path>& maps,
                    std::vector<std::string>& problems) {
  std::error_code ec;
  if (!fs::is_directory(root, ec)) {
    problems.push_back(Utf8Of(root) + ": not a folder");
    return false;
  }
  fs::recursive_directory_iterator it(root, fs::directory_options::follow_directory_symlink, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const fs::path& path = it->path();
    const std::string relative = Utf8Of(path.lexically_relative(root));
    std::error_code type_error;
    if (it->is_directory(type_error)) continue;
    if (!it->is_regular_file(type_error)) {
      problems.push_back(relative + ": not a regular file that can be read");
      continue;
    }
    if (EndsWith(relative, kBlockMapSuffix)) {
      maps.push_back(path);
      continue;
    }
    files.emplace(relative, path);
  }
  if (ec) problems.push_back(Utf8Of(root) + ": cannot read the folder: " + ec.message());
  return problems.empty();
}

// Writes each file aside first and then renames them into place one after the
// other, so a reader finds old or new files, never half of one.
bool WriteWhole(const std::vector<std::pair<fs::path, std::string>>& files, std::string& error) {
  std::error_code ec;
  for (const auto& [path, bytes] : files) {
    std::ofstream out(fs::path(path).concat(".partial"), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      error = "cannot write " + Utf8Of(path) + ".partial";
      return false;
    }
  }
  for (const auto& file : files) {
    fs::rename(fs::path(file.first).concat(".partial"), file.first, ec);
    if (ec) {
      error = "cannot replace " + Utf8Of(file.first) + ": " + ec.message();
      return false;
    }
  }
  return true;
}

// The manifest, and its signature document when a key is given. Without a
// key, a signature document left from an earlier manifest goes: it could
// only be wrong for this one.
bool Publish(const std::string& out, const std::string& json, const std::string& key, std::string& error) {
  std::vector<std::pair<fs::path, std::string>> files = {{PathOf(out), json}};
  if (!key.empty()) {
    EcdsaSignature signature;
    if (!SignWithKeyFile(key, json, signature, error)) return false;
    files.emplace_back(PathOf(out + ".sig"), Hex64(signature) + "\n");
  }
  if (!WriteWhole(files, error)) return false;
  std::error_code ignored;
  if (key.empty()) fs::remove(PathOf(out + ".sig"), ignored);
  return true;
}

int Refuse(std::ostream& err, const std::vector<std::string>& problems) {
  for (const std::string& problem : problems) err << "ostrel-manifest: " << problem << "\n";
  return 1;
}

// The whole document `name` into `text`; false with `problem` set when unreadable.
bool ReadDocument(const std::string& name, std::string& text, std::string& problem) {
  std::ifstream in(PathOf(name), std::ios::binary);
  if (!in) {
    problem = name + ": cannot read";
    return false;
  }
  std::stringstream whole;
  whole << in.rdbuf();
  text = whole.str();
  return true;
}

// Signs `text` with the key file and writes the signature beside `name`.
int SignBeside(const std::string& key, const std::string& name, const std::string& text, std::ostream& out,
               std::ostream& err) {
  EcdsaSignature signature;
  std::string error;
  if (!SignWithKeyFile(key, text, signature, error) ||
      !WriteWhole({{PathOf(name + ".sig"), Hex64(signature) + "\n"}}, error)) {
    return Refuse(err, {error});
  }
  out << "Wrote " << name << ".sig\n";
  return 0;
}

// --check, and --sign: a manifest written elsewhere, checked like a
// generated one and, for --sign, signed as it stands.
int CheckExisting(const Options& o, std::ostream& out, std::ostream& err) {
  const std::string& name = o.sign.empty() ? o.check : o.sign;
  std::string text, error;
  if (!ReadDocument(name, text, error)) return Refuse(err, {error});
  Manifest manifest;
  if (!ParseManifest(text, manifest, error)) return Refuse(err, {name + ": not a manifest: " + error});
  auto problems = ManifestProblems(manifest);
  const std::string unpinned = UnpinnedDownload(manifest);
  if (!o.sign.empty() && !unpinned.empty()) {
    problems.push_back(unpinned +
                       ": no digest; the launcher refuses a signed manifest that leaves a download unchecked");
  }
  if (!problems.empty()) return Refuse(err, problems);
  if (!o.sign.empty()) return SignBeside(o.key, name, text, out, err);
  out << name << ": " << manifest.game_files.size() << " game files, no problem found\n";
  return 0;
}

// --sign-news: the news document as it stands, if the launcher would take it.
int SignNews(const Options& o, std::ostream& out, std::ostream& err) {
  const std::string& name = o.sign_news;
  std::string text, error;
  if (!ReadDocument(name, text, error)) return Refuse(err, {error});
  if (text.size() > kNewsMaxBytes) return Refuse(err, {name + ": larger than the launcher reads (1 MiB)"});
  try {
    ParseNews(text);
  } catch (const std::exception& e) {
    return Refuse(err, {name + ": not a news document: " + e.what()});
  }
  return SignBeside(o.key, name, text, out, err);
}

int MakeKey(const Options& o, std::ostream& out, std::ostream& err) {
  EcdsaPublicKey public_key;
  std::string error;
  if (!MakeSigningKey(o.make_key, public_key, error)) return Refuse(err, {error});
  if (!WriteWhole({{PathOf(o.make_key + ".pub"), Hex64(public_key) + "\n"}}, error)) return Refuse(err, {error});
  out << "Private key: " << o.make_key << " (keep it off the web server)\n"
      << "Public key:  " << o.make_key << ".pub; build the launcher with\n"
      << "  -DOSTREL_UPDATE_PUBLIC_KEY=" << Hex64(public_key) << "\n";
  return 0;
}

// Reads a file given on the command line; adds a problem when it cannot.
bool ReadNamedFile(const std::string& option, const std::string& name, FileFacts& facts,
                   std::vector<std::string>& problems) {
  if (ReadFacts(PathOf(name), facts)) return true;
  problems.push_back(option + " " + name + ": cannot read");
  return false;
}

// The launcher build's version, "major.minor.patch", from its version block
// (which the build writes as those three numbers and a 0); empty, with a
// problem added, when the file holds none or it disagrees with `given`.
std::string LauncherBuildVersion(const std::string& name, const std::string& given,
                                 std::vector<std::string>& problems) {
  std::error_code ec;
  std::string image, problem;
  PeFileVersion version{};
  if (fs::file_size(PathOf(name), ec) > kLauncherMaxBytes && !ec) {
    problem = "not a launcher build (larger than 64 MiB)";
  } else if (ReadDocument(name, image, problem) && ReadPeFileVersion(image, version, problem) && version[3] != 0) {
    problem = "its version block says " + PeFileVersionText(version) +
              ", but a launcher build's ends in .0 (the build option OSTREL_LAUNCHER_VERSION)";
  }
  if (!problem.empty()) {
    problems.push_back("--launcher " + name + ": " + problem);
    return "";
  }
  const std::string built =
      std::to_string(version[0]) + "." + std::to_string(version[1]) + "." + std::to_string(version[2]);
  if (given.empty() || given == built) return built;
  problems.push_back("--launcher-version " + given + " disagrees with the version block of " + name + " (" + built +
                     "); leave the option out to take the build's");
  return "";
}

// The map's entry: its address relative to the file's (beside it, named
// after it), so it follows the files wherever they are served from.
BlockMapRef BlockMapEntry(const std::string& relative, const std::string& map) {
  const std::string md5 = Md5Hex(map);
  const std::string name = relative.substr(relative.rfind('/') + 1);
  return {UrlEscaped(name) + kBlockMapSuffix + "?v=" + md5.substr(0, 12), static_cast<std::int64_t>(map.size()), md5,
          Sha256Hex(map)};
}

// Removes the block maps no file has any more (gone, or now too small for one).
std::size_t RemoveStaleMaps(const std::vector<fs::path>& found,
                            const std::vector<std::pair<fs::path, std::string>>& written) {
  std::size_t removed = 0;
  for (const fs::path& map : found) {
    const bool kept = std::any_of(written.begin(), written.end(), [&](const auto& w) { return w.first == map; });
    std::error_code ignored;
    if (!kept && fs::remove(map, ignored)) ++removed;
  }
  return removed;
}

int Generate(const Options& o, std::ostream& out, std::ostream& err) {
  std::vector<std::string> problems;
  std::map<std::string, fs::path> files;
  std::vector<fs::path> old_maps;
  ListRealmFiles(PathOf(o.realm_folder), files, old_maps, problems);

  Manifest manifest;
  manifest.realmList = o.realm_list;
  manifest.realmName = o.realm_name;
  FileFacts facts;
  if (!o.launcher_file.empty() && ReadNamedFile("--launcher", o.launcher_file, facts, problems)) {
    manifest.launcher_version = LauncherBuildVersion(o.launcher_file, o.launcher_version, problems);
    manifest.launcher_url = o.launcher_url;
    manifest.launcher_md5 = facts.md5;
    manifest.launcher_sha256 = facts.sha256;
  }
  if (!o.client_file.empty() && ReadNamedFile("--client-file", o.client_file, facts, problems)) {
    manifest.wow_client = {o.client_url, facts.size, facts.md5, o.client_dir};
  }

  std::map<std::string, std::string> extract_to(o.extracts.begin(), o.extracts.end());
  const std::string base = WithoutTrailingSlash(o.files_url);
  std::int64_t total = 0;
  std::vector<std::pair<fs::path, std::string>> maps;  // written beside their files
  for (const auto& [relative, path] : files) {
    std::error_code ec;
    const std::uintmax_t size_on_disk = fs::file_size(path, ec);
    const bool big = !ec && size_on_disk >= kBlockMapMinFileBytes;
    if (!ReadFacts(path, facts, big ? BlockSizeFor(size_on_disk) : 0)) {
      problems.push_back(relative + ": cannot read");
      continue;
    }
    GameFile file;
    file.path = relative;
    file.size = facts.size;
    file.md5 = facts.md5;
    file.sha256 = facts.sha256;
    file.cdn_url = base + "/" + UrlEscaped(relative) + "?v=" + facts.md5.substr(0, 12);
    if (const auto wanted = extract_to.find(relative); wanted != extract_to.end()) {
      file.extract_to = wanted->second;
      extract_to.erase(wanted);
      if (facts.head != std::string("PK\x03\x04", 4) && facts.head != std::string("PK\x05\x06", 4)) {
        problems.push_back(relative + ": not a ZIP archive (--extract unpacks ZIP archives only)");
      }
    }
    if (big && facts.size >= static_cast<std::int64_t>(kBlockMapMinFileBytes)) {
      file.block_map = BlockMapEntry(relative, facts.block_map);
      maps.emplace_back(fs::path(path).concat(kBlockMapSuffix), std::move(facts.block_map));
    }
    total += facts.size;
    manifest.game_files.push_back(std::move(file));
  }
  for (const auto& [path, folder] : extract_to) {
    problems.push_back("--extract " + path + ": no such file in " + o.realm_folder);
  }

  for (std::string& problem : ManifestProblems(manifest)) problems.push_back(std::move(problem));
  if (!problems.empty()) return Refuse(err, problems);

  // The maps first: a manifest never names a map that is not there yet.
  std::string error;
  if (!WriteWhole(maps, error) || !Publish(o.out, ManifestJson(manifest), o.key, error)) return Refuse(err, {error});
  out << "Wrote " << o.out << (o.key.empty() ? "" : " and its signature") << ": " << manifest.game_files.size()
      << " game files, " << total << " bytes";
  if (!maps.empty()) out << "; " << maps.size() << " block maps beside their files";
  if (const std::size_t removed = RemoveStaleMaps(old_maps, maps))
    out << "; " << removed << " stale block maps removed";
  out << "\n";
  return 0;
}

}  // namespace

int RunManifestGenerator(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options options;
  std::string error;
  if (!ParseOptions(args, options, error)) {
    err << "ostrel-manifest: " << error << "\n(ostrel-manifest --help shows the usage)\n";
    return 2;
  }
  if (options.help) {
    out << ManifestGeneratorUsage();
    return 0;
  }
  try {
    if (!options.make_key.empty()) return MakeKey(options, out, err);
    if (!options.sign_news.empty()) return SignNews(options, out, err);
    if (!options.check.empty() || !options.sign.empty()) return CheckExisting(options, out, err);
    return Generate(options, out, err);
  } catch (const std::exception& e) {
    return Refuse(err, {e.what()});
  }
}
