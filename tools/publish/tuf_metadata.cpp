#include "tuf_metadata.h"

#include <algorithm>
#include <set>

#include "base/text.h"
#include "platform/platform.h"
#include "update/tuf/canonical_json.h"
#include "update/tuf/key.h"
#include "update/tuf/metadata.h"

namespace publish {

using nlohmann::json;

std::string ExpiresText(std::int64_t seconds) {
  return base::WideToUtf8(update::tuf::TimeText(seconds));
}

std::string MetadataFileBytes(const json& document) { return document.dump(1, ' ') + "\n"; }

base::Result<json> SignMetadata(const json& signedPart, const std::vector<const SigningKey*>& keys) {
  auto canonical = update::tuf::CanonicalJson(signedPart);
  if (!canonical) return canonical.TakeFailure();
  const platform::Sha256Digest digest = platform::Sha256::Of(canonical->data(), canonical->size());
  json signatures = json::array();
  std::set<std::string> done;
  for (const SigningKey* key : keys) {
    if (!done.insert(key->keyId).second) continue;
    platform::Error err;
    auto rs = key->key.SignDigest(digest, &err);
    if (!rs) return base::MakeFailure(base::Failure::Kind::kSystem, key->path + L": " + err.message);
    std::string sig = update::tuf::SignatureHex(*rs);
    if (!update::tuf::VerifySignature(key->key.PublicKey(), *canonical, sig))
      return base::MakeFailure(base::Failure::Kind::kInvalid,
                               key->path + L": the key file's public key does not belong to its private key");
    signatures.push_back({{"keyid", key->keyId}, {"sig", sig}});
  }
  return json{{"signatures", std::move(signatures)}, {"signed", signedPart}};
}

json RootSigned(std::int64_t version, std::int64_t expires, const std::map<Role, std::vector<json>>& roleKeys,
                const std::map<Role, int>& thresholds) {
  json keys = json::object();
  json roles = json::object();
  for (Role role : kRoles) {
    json ids = json::array();
    auto found = roleKeys.find(role);
    if (found != roleKeys.end()) {
      for (const json& keyObject : found->second) {
        auto id = update::tuf::KeyId(keyObject);
        if (!id) continue;  // only for a number in a key, which KeyObject never makes
        keys[*id] = keyObject;
        if (std::find(ids.begin(), ids.end(), *id) == ids.end()) ids.push_back(*id);
      }
    }
    auto threshold = thresholds.find(role);
    roles[RoleName(role)] = {{"keyids", ids},
                             {"threshold", threshold == thresholds.end() ? 1 : threshold->second}};
  }
  return {{"_type", "root"},
          {"consistent_snapshot", true},
          {"expires", ExpiresText(expires)},
          {"keys", keys},
          {"roles", roles},
          {"spec_version", kTufVersion},
          {"version", version}};
}

}  // namespace publish
