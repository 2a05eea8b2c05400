#include "net/ecdsa.h"

#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct AlgorithmCloser {
  void operator()(void* handle) const noexcept { BCryptCloseAlgorithmProvider(handle, 0); }
};
struct KeyDestroyer {
  void operator()(void* handle) const noexcept { BCryptDestroyKey(handle); }
};
using UniqueAlgorithm = std::unique_ptr<void, AlgorithmCloser>;
using UniqueKey = std::unique_ptr<void, KeyDestroyer>;

UniqueAlgorithm OpenAlgorithm(const wchar_t* name) {
  BCRYPT_ALG_HANDLE handle = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle, name, nullptr, 0))) return nullptr;
  return UniqueAlgorithm(handle);
}

bool Sha256(const std::string& message, UCHAR (&digest)[32]) {
  const UniqueAlgorithm sha = OpenAlgorithm(BCRYPT_SHA256_ALGORITHM);
  return sha &&
         BCRYPT_SUCCESS(BCryptHash(sha.get(), nullptr, 0, reinterpret_cast<PUCHAR>(const_cast<char*>(message.data())),
                                   static_cast<ULONG>(message.size()), digest, sizeof digest));
}

// A key blob: the header BCrypt expects, then X, Y (and d for a private key).
std::vector<UCHAR> KeyBlob(ULONG magic, const EcdsaPublicKey& point, const Bytes32* secret) {
  const BCRYPT_ECCKEY_BLOB header{magic, 32};
  std::vector<UCHAR> blob(sizeof header + point.size() + (secret ? secret->size() : 0));
  std::memcpy(blob.data(), &header, sizeof header);
  std::copy(point.begin(), point.end(), blob.begin() + sizeof header);
  if (secret) std::copy(secret->begin(), secret->end(), blob.begin() + sizeof header + point.size());
  return blob;
}

UniqueKey ImportKey(BCRYPT_ALG_HANDLE algorithm, const wchar_t* type, std::vector<UCHAR> blob) {
  BCRYPT_KEY_HANDLE key = nullptr;
  if (!BCRYPT_SUCCESS(
          BCryptImportKeyPair(algorithm, nullptr, type, &key, blob.data(), static_cast<ULONG>(blob.size()), 0))) {
    return nullptr;
  }
  return UniqueKey(key);
}

}  // namespace

bool VerifyEcdsaP256(const std::string& message, const EcdsaPublicKey& key, const EcdsaSignature& signature) {
  UCHAR digest[32];
  const UniqueAlgorithm ecdsa = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  if (!ecdsa || !Sha256(message, digest)) return false;
  const UniqueKey public_key =
      ImportKey(ecdsa.get(), BCRYPT_ECCPUBLIC_BLOB, KeyBlob(BCRYPT_ECDSA_PUBLIC_P256_MAGIC, key, nullptr));
  if (!public_key) return false;
  std::vector<UCHAR> copy(signature.begin(), signature.end());
  return BCryptVerifySignature(public_key.get(), nullptr, digest, sizeof digest, copy.data(),
                               static_cast<ULONG>(copy.size()), 0) == 0;
}

bool GenerateEcdsaP256(EcdsaKeyPair& key, std::string& error) {
  const UniqueAlgorithm ecdsa = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  BCRYPT_KEY_HANDLE raw = nullptr;
  if (!ecdsa || !BCRYPT_SUCCESS(BCryptGenerateKeyPair(ecdsa.get(), &raw, 256, 0))) {
    error = "cannot make a P-256 key pair";
    return false;
  }
  const UniqueKey pair(raw);
  std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 96);
  ULONG size = 0;
  if (!BCRYPT_SUCCESS(BCryptFinalizeKeyPair(pair.get(), 0)) ||
      !BCRYPT_SUCCESS(BCryptExportKey(pair.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob.data(),
                                      static_cast<ULONG>(blob.size()), &size, 0)) ||
      size != blob.size()) {
    error = "cannot export the new key";
    return false;
  }
  const UCHAR* values = blob.data() + sizeof(BCRYPT_ECCKEY_BLOB);
  std::copy(values, values + 64, key.public_key.begin());
  std::copy(values + 64, values + 96, key.secret.begin());
  return true;
}

bool SignEcdsaP256(const std::string& message, const EcdsaKeyPair& key, EcdsaSignature& signature, std::string& error) {
  UCHAR digest[32];
  const UniqueAlgorithm ecdsa = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  if (!ecdsa || !Sha256(message, digest)) {
    error = "ECDSA P-256 or SHA-256 unavailable";
    return false;
  }
  const UniqueKey private_key = ImportKey(ecdsa.get(), BCRYPT_ECCPRIVATE_BLOB,
                                          KeyBlob(BCRYPT_ECDSA_PRIVATE_P256_MAGIC, key.public_key, &key.secret));
  ULONG size = 0;
  if (!private_key ||
      !BCRYPT_SUCCESS(BCryptSignHash(private_key.get(), nullptr, digest, sizeof digest, signature.data(),
                                     static_cast<ULONG>(signature.size()), &size, 0)) ||
      size != signature.size()) {
    error = "the key cannot sign";
    return false;
  }
  return true;
}
