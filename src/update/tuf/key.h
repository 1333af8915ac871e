// TUF keys of type "ecdsa", scheme "ecdsa-sha2-nistp256", as root metadata lists them:
//   {"keytype":"ecdsa","keyval":{"public":"<PEM SubjectPublicKeyInfo>"},"scheme":"ecdsa-sha2-nistp256"}
// A key's id is the lowercase hex SHA-256 of the canonical JSON of that object (all of its
// fields as listed). A signature is the lowercase hex of the DER ECDSA-Sig-Value over the
// SHA-256 of the canonical JSON of the metadata's "signed" object: what Node's crypto
// (and so tuf-js and @tufjs/models) writes and checks for such a key.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "base/result.h"
#include "platform/crypto.h"

namespace update::tuf {

inline constexpr char kKeyType[] = "ecdsa";
inline constexpr char kKeyScheme[] = "ecdsa-sha2-nistp256";

// The key object for a P-256 public key (its PEM exactly as OpenSSL and Node write it).
nlohmann::json KeyObject(const platform::P256PublicKey& point);

// The key id of a key object.
base::Result<std::string> KeyId(const nlohmann::json& keyObject);

// The public key of a key object: kInvalid unless keytype, scheme and keyval.public are
// the ones above and the PEM holds an uncompressed P-256 point.
base::Result<platform::P256PublicKey> ParseKey(const nlohmann::json& keyObject);

// The "sig" text of a signature r || s.
std::string SignatureHex(const platform::P256Signature& rs);

// Whether sigHex is a signature of `message` (the canonical bytes) by the key. False for
// a text that is not hex of a DER ECDSA signature.
bool VerifySignature(const platform::P256PublicKey& key, std::string_view message,
                     std::string_view sigHex);

}  // namespace update::tuf
