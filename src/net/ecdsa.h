// ECDSA on the P-256 curve over SHA-256 with the system's BCrypt (Windows
// build): the launcher verifies the realm's manifest signature with it, and
// the Windows build of the manifest generator signs with it.
#pragma once

#include <string>

#include "data/signature_text.h"

// True only when `signature` is `key`'s signature of `message`'s SHA-256.
bool VerifyEcdsaP256(const std::string& message, const EcdsaPublicKey& key, const EcdsaSignature& signature);

// A new key pair from the system's random source.
bool GenerateEcdsaP256(EcdsaKeyPair& key, std::string& error);

// `key`'s signature of `message`'s SHA-256.
bool SignEcdsaP256(const std::string& message, const EcdsaKeyPair& key, EcdsaSignature& signature, std::string& error);
