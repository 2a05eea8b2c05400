#include <windows.h>

#include <filesystem>

#include "base/text.h"
#include "base/unique_handle_win.h"
#include "net/ecdsa.h"
#include "publish/manifest_signer.h"

namespace {

std::filesystem::path WidePath(const std::string& utf8) {
  std::wstring wide;
  return WideFromUtf8(utf8, wide) ? std::filesystem::path(wide) : std::filesystem::path(Widen(utf8));
}

}  // namespace

bool MakeSigningKey(const std::string& key_file, EcdsaPublicKey& public_key, std::string& error) {
  EcdsaKeyPair key;
  if (!GenerateEcdsaP256(key, error)) return false;
  const std::string pem = KeyPairToPem(key);
  // CREATE_NEW: an existing key is never overwritten.
  UniqueHandle file(
      CreateFileW(WidePath(key_file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    error = key_file + ": cannot create (it must not exist yet)";
    return false;
  }
  DWORD written = 0;
  const bool ok =
      WriteFile(file.get(), pem.data(), static_cast<DWORD>(pem.size()), &written, nullptr) && written == pem.size();
  if (!file.Close() || !ok) {
    error = key_file + ": cannot write";
    return false;
  }
  public_key = key.public_key;
  return true;
}

bool SignWithKeyFile(const std::string& key_file, const std::string& message, EcdsaSignature& signature,
                     std::string& error) {
  EcdsaKeyPair key;
  if (!ReadSigningKey(key_file, WidePath(key_file), key, error)) return false;
  return SignEcdsaP256(message, key, signature, error);
}
