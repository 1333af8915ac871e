#include "update/tuf/key.h"

#include "base/der_pem.h"
#include "update/tuf/canonical_json.h"

namespace update::tuf {

namespace {

base::Failure Invalid(std::wstring reason) {
  return base::MakeFailure(base::Failure::Kind::kInvalid, std::move(reason));
}

}  // namespace

nlohmann::json KeyObject(const platform::P256PublicKey& point) {
  return {{"keytype", kKeyType},
          {"scheme", kKeyScheme},
          {"keyval", {{"public", base::P256PublicKeyPem(point)}}}};
}

base::Result<std::string> KeyId(const nlohmann::json& keyObject) {
  auto canonical = CanonicalJson(keyObject);
  if (!canonical) return canonical.TakeFailure();
  platform::Sha256Digest digest = platform::Sha256::Of(canonical->data(), canonical->size());
  return base::HexLower(digest.data(), digest.size());
}

base::Result<platform::P256PublicKey> ParseKey(const nlohmann::json& keyObject) {
  if (!keyObject.is_object()) return Invalid(L"key is not an object");
  auto type = keyObject.find("keytype");
  auto scheme = keyObject.find("scheme");
  auto keyval = keyObject.find("keyval");
  if (type == keyObject.end() || !type->is_string() || *type != kKeyType)
    return Invalid(L"key type is not ecdsa");
  if (scheme == keyObject.end() || !scheme->is_string() || *scheme != kKeyScheme)
    return Invalid(L"key scheme is not ecdsa-sha2-nistp256");
  if (keyval == keyObject.end() || !keyval->is_object()) return Invalid(L"key has no keyval");
  auto pem = keyval->find("public");
  if (pem == keyval->end() || !pem->is_string()) return Invalid(L"key has no public PEM");
  return base::ParseP256PublicKeyPem(pem->get_ref<const std::string&>());
}

std::string SignatureHex(const platform::P256Signature& rs) {
  std::vector<std::uint8_t> der = base::EcdsaSignatureDer(rs);
  return base::HexLower(der.data(), der.size());
}

bool VerifySignature(const platform::P256PublicKey& key, std::string_view message,
                     std::string_view sigHex) {
  auto der = base::ParseHex(sigHex);
  if (!der) return false;
  auto rs = base::ParseEcdsaSignatureDer(der->data(), der->size());
  if (!rs) return false;
  return platform::VerifyP256Sha256(key, message, *rs);
}

}  // namespace update::tuf
