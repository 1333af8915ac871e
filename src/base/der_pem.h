// The few DER and PEM shapes that P-256 public keys and ECDSA signatures travel in between
// systems: SubjectPublicKeyInfo ("BEGIN PUBLIC KEY", what OpenSSL and Node write for a
// public key) and the ECDSA-Sig-Value sequence of r and s. The cryptography libraries take
// the raw forms (X || Y, r || s); these codecs are pure code, the same on every system.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace base {

using P256Point = std::array<std::uint8_t, 64>;     // X || Y, big-endian
using P256RawSignature = std::array<std::uint8_t, 64>;  // r || s, big-endian

// The DER SubjectPublicKeyInfo of an uncompressed P-256 point (91 bytes).
std::vector<std::uint8_t> P256SpkiDer(const P256Point& point);
// PEM of that: "-----BEGIN PUBLIC KEY-----", base64 lines of 64 characters, the end line,
// each ended by a line feed: byte for byte what OpenSSL and Node write.
std::string P256PublicKeyPem(const P256Point& point);

// The point of a SubjectPublicKeyInfo for id-ecPublicKey on prime256v1 with an
// uncompressed point; kInvalid with the reason for anything else. Whether the point lies
// on the curve is the verifier's to say.
Result<P256Point> ParseP256Spki(const std::uint8_t* der, std::size_t size);
// The same from its PEM: one "PUBLIC KEY" block, LF or CR LF line ends, white space around
// the block allowed, nothing else.
Result<P256Point> ParseP256PublicKeyPem(std::string_view pem);

// ECDSA-Sig-Value (SEQUENCE of two INTEGERs) in DER, minimal encoding.
std::vector<std::uint8_t> EcdsaSignatureDer(const P256RawSignature& rs);
// r || s of a DER ECDSA-Sig-Value; kInvalid for non-minimal or oversized integers, trailing
// bytes, or values that do not fit 32 bytes.
Result<P256RawSignature> ParseEcdsaSignatureDer(const std::uint8_t* der, std::size_t size);

// A P-256 private key as key files hold it: the scalar d and the public point.
struct P256PrivateKeyParts {
  std::array<std::uint8_t, 32> d{};
  P256Point point{};
  ~P256PrivateKeyParts();  // wipes d
};

// The key of a PEM key file: PKCS#8 ("BEGIN PRIVATE KEY", what `openssl genpkey` writes) or
// SEC1 ("BEGIN EC PRIVATE KEY", what `openssl ecparam -genkey` writes, possibly after an
// "EC PARAMETERS" block), unencrypted, of the curve P-256, with its public point. kInvalid
// with the reason for anything else (an encrypted key, another curve, no key).
Result<P256PrivateKeyParts> ParseP256PrivateKeyPem(std::string_view pem);
// The PKCS#8 PEM text of the key ("BEGIN PRIVATE KEY", 64-character lines, LF), as
// openssl writes it. The caller wipes the text (Wipe) when done with it.
std::string P256PrivateKeyPem(const P256PrivateKeyParts& key);

// Overwrites the bytes with zeros in a way the compiler cannot leave out: for secrets.
void Wipe(void* data, std::size_t size);

// Lowercase hex of bytes, and its strict inverse (an even count of hex digits, either case).
std::string HexLower(const void* data, std::size_t size);
Result<std::vector<std::uint8_t>> ParseHex(std::string_view text);

}  // namespace base
