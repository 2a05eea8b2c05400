#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "publish/manifest_signer.h"

extern char** environ;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// A private temporary file, removed when this goes.
class TempFile {
 public:
  TempFile() {
    const char* dir = std::getenv("TMPDIR");
    path_ = std::string(dir && *dir ? dir : "/tmp") + "/ostrel-manifest-XXXXXX";
    const int fd = mkstemp(&path_[0]);
    if (fd >= 0)
      close(fd);
    else
      path_.clear();
  }
  ~TempFile() {
    if (!path_.empty()) std::remove(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Runs openssl with `args` (no shell), its standard output into `out`. Its
// complaints go to our standard error, where the operator sees them.
bool RunOpenssl(std::vector<std::string> args, std::string& out, std::string& error) {
  TempFile output;
  if (output.path().empty()) {
    error = "cannot make a temporary file";
    return false;
  }
  args.insert(args.begin(), "openssl");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.path().c_str(), O_WRONLY | O_TRUNC, 0600);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, "openssl", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    error = spawned != 0 ? "cannot run openssl (install Debian's openssl package)" : "openssl " + args[1] + " failed";
    return false;
  }
  out = ReadFile(output.path());
  return true;
}

}  // namespace

bool MakeSigningKey(const std::string& key_file, EcdsaPublicKey& public_key, std::string& error) {
  std::string pem;
  EcdsaKeyPair key;
  if (!RunOpenssl({"ecparam", "-name", "prime256v1", "-genkey", "-noout"}, pem, error)) return false;
  if (!KeyPairFromPem(pem, key, error)) return false;
  const int fd = open(key_file.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (fd < 0) {
    error = key_file + ": cannot create (it must not exist yet)";
    return false;
  }
  const bool written = write(fd, pem.data(), pem.size()) == static_cast<ssize_t>(pem.size());
  if (close(fd) != 0 || !written) {
    error = key_file + ": cannot write";
    return false;
  }
  public_key = key.public_key;
  return true;
}

bool SignWithKeyFile(const std::string& key_file, const std::string& message, EcdsaSignature& signature,
                     std::string& error) {
  EcdsaKeyPair key;
  if (!ReadSigningKey(key_file, key_file, key, error)) return false;
  TempFile message_file;
  std::ofstream out(message_file.path(), std::ios::binary);
  out.write(message.data(), static_cast<std::streamsize>(message.size()));
  out.close();
  if (message_file.path().empty() || !out) {
    error = "cannot write a temporary file";
    return false;
  }
  // A name starting with '-' would read as an option.
  const std::string key_path = key_file[0] == '-' ? "./" + key_file : key_file;
  std::string der;
  if (!RunOpenssl({"dgst", "-sha256", "-sign", key_path, message_file.path()}, der, error)) return false;
  if (!SignatureFromDer(der, signature)) {
    error = "openssl gave no P-256 signature";
    return false;
  }
  return true;
}
