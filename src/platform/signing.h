// P-256 private keys and ECDSA signing through the system's own cryptography (CNG on
// Windows, OpenSSL's libcrypto on Linux), for the publish tool. The launcher only verifies
// (platform/crypto.h) and links none of this.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/crypto.h"
#include "platform/platform.h"

namespace platform {

// A P-256 private key held by the system's cryptography: the publish tool's signing key.
class P256PrivateKey {
 public:
  ~P256PrivateKey();
  P256PrivateKey(P256PrivateKey&& other) noexcept;
  P256PrivateKey& operator=(P256PrivateKey&& other) noexcept;

  // A new random key pair.
  static std::optional<P256PrivateKey> Generate(Error* err = nullptr);

  // Reads a PEM key file: PKCS#8 ("BEGIN PRIVATE KEY", what `openssl genpkey` writes) or
  // SEC1 ("BEGIN EC PRIVATE KEY", what `openssl ecparam -genkey` writes), unencrypted, of
  // the curve P-256. Nothing, with the reason in *err, for anything else.
  static std::optional<P256PrivateKey> ReadPem(const std::wstring& path, Error* err = nullptr);

  // Writes the key as PKCS#8 PEM to a file that must not exist yet (an existing file is
  // never replaced: it may be the only copy of another key). On Linux the file is created
  // readable by its owner only (mode 0600). A failed write leaves no file behind.
  bool WritePem(const std::wstring& path, Error* err = nullptr) const;

  P256PublicKey PublicKey() const;

  // An ECDSA signature of the digest (randomised: signing twice gives different bytes).
  std::optional<P256Signature> SignDigest(const Sha256Digest& digest, Error* err = nullptr) const;

 private:
  struct Impl;
  explicit P256PrivateKey(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
