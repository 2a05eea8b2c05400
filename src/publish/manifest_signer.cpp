#include "publish/manifest_signer.h"

#include <fstream>
#include <sstream>

bool ReadSigningKey(const std::string& key_file, const std::filesystem::path& path, EcdsaKeyPair& key,
                    std::string& error) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream pem;
  pem << in.rdbuf();
  if (!in) {
    error = key_file + ": cannot read";
    return false;
  }
  if (!KeyPairFromPem(pem.str(), key, error)) {
    error = key_file + ": " + error;
    return false;
  }
  return true;
}
