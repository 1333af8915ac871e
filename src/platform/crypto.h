// SHA-256 and ECDSA P-256 verification through the system's own cryptography: CNG
// (bcrypt.dll) on Windows, OpenSSL's libcrypto on Linux: what the launcher needs. Key
// generation, key files and signing serve the publish tool only (platform/signing.h).
//
// Keys and signatures travel as fixed-size big-endian bytes, the form both libraries
// take: a public key is X || Y (32 bytes each), a signature r || s (32 bytes each).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/base64.h"
#include "platform/platform.h"

namespace platform {

using Sha256Digest = std::array<std::uint8_t, 32>;
using P256PublicKey = std::array<std::uint8_t, 64>;  // X || Y
using P256Signature = std::array<std::uint8_t, 64>;  // r || s

// An incremental SHA-256, fed while a download streams in.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  Sha256(Sha256&& other) noexcept;
  Sha256& operator=(Sha256&& other) noexcept;

  void Update(const void* data, std::size_t size);
  // The digest of everything fed since construction or the last Finish; the object then
  // starts afresh.
  Sha256Digest Finish();

  // False when the system could not hash (it could not set up or feed the hash): the
  // digest from Finish is then all zeros, which no signature of a real file matches.
  bool Ok() const;
  // The system's reason when !Ok().
  const Error& Failure() const;

  static Sha256Digest Of(const void* data, std::size_t size);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

inline Sha256Digest Sha256::Of(const void* data, std::size_t size) {
  Sha256 hash;
  hash.Update(data, size);
  return hash.Finish();
}

// Whether `signature` is an ECDSA P-256 signature of `digest` by the key `publicKey`.
// False as well for a public key that is not a point of the curve.
bool VerifyP256Sha256Digest(const P256PublicKey& publicKey, const Sha256Digest& digest,
                            const P256Signature& signature);

// Whether `signature` is an ECDSA P-256 signature of the SHA-256 of `message` by the key.
inline bool VerifyP256Sha256(const P256PublicKey& publicKey, std::string_view message,
                             const P256Signature& signature) {
  return VerifyP256Sha256Digest(publicKey, Sha256::Of(message.data(), message.size()), signature);
}

// Base64 is pure code and lives in base; these names stay for the callers that know it here.
using base::Base64Decode;
using base::Base64Encode;

}  // namespace platform
