// The text forms of the realm's update signatures (ECDSA on the P-256 curve
// over SHA-256): the public key as the OSTREL_UPDATE_PUBLIC_KEY build option
// gives it, the signature document ("/launcher/manifest.php.sig"), and the
// private key file the manifest generator signs with.
#pragma once

#include <array>
#include <cstdint>
#include <string>

using Bytes32 = std::array<std::uint8_t, 32>;
using Bytes64 = std::array<std::uint8_t, 64>;

// A public key: the point's X then Y coordinate, 32 bytes each, big-endian.
using EcdsaPublicKey = Bytes64;
// A signature: r then s, 32 bytes each, big-endian.
using EcdsaSignature = Bytes64;

struct EcdsaKeyPair {
  Bytes32 secret{};  // the private scalar d
  EcdsaPublicKey public_key{};
};

// Exactly 128 hexadecimal digits of either case; white space before and
// after is ignored, anywhere else it is not. False with the reason in `error`.
bool ParseHex64(const std::string& text, Bytes64& out, std::string& error);
// 128 lower-case hexadecimal digits.
std::string Hex64(const Bytes64& bytes);

// An ECDSA-Sig-Value in DER (what `openssl dgst -sign` writes) as r then s.
bool SignatureFromDer(const std::string& der, EcdsaSignature& out);

// The private key file: PEM "EC PRIVATE KEY" (SEC1, as written by `openssl
// ecparam -name prime256v1 -genkey -noout` and by the generator's
// --make-key), on the P-256 curve, with its public key.
bool KeyPairFromPem(const std::string& pem, EcdsaKeyPair& key, std::string& error);
std::string KeyPairToPem(const EcdsaKeyPair& key);
