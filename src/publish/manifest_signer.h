// The realm's signing key and the manifest's signature, for the manifest
// generator. The Windows build signs with the system's BCrypt; the Linux
// build with the openssl command (Debian's openssl package), which also keeps
// this code free of its own curve arithmetic. Both read and write the same key
// file: PEM "EC PRIVATE KEY" on the P-256 curve (data/signature_text.h).
#pragma once

#include <filesystem>
#include <string>

#include "data/signature_text.h"

// Makes a new key pair, writes its private key to `key_file` (UTF-8 path; a
// new file, never one that exists; on Linux readable by its owner only) and
// gives its public key.
bool MakeSigningKey(const std::string& key_file, EcdsaPublicKey& public_key, std::string& error);

// The signature of `message`'s SHA-256 by the key in `key_file`.
bool SignWithKeyFile(const std::string& key_file, const std::string& message, EcdsaSignature& signature,
                     std::string& error);

// The key pair in the key file at `path` (`key_file` as the operator wrote it,
// for the messages): one read, shared by both builds.
bool ReadSigningKey(const std::string& key_file, const std::filesystem::path& path, EcdsaKeyPair& key,
                    std::string& error);
