// Signing the update metadata: one document is
//   {"signatures": [{"keyid": ..., "sig": ...}, ...], "signed": {...}}
// where each signature is over the canonical JSON of "signed" (update/tuf/key.h says how).
// Files are written as ordinary JSON (the canonical form leaves line feeds raw inside
// strings, which a JSON reader refuses), so their bytes are not the signed bytes. Reading
// metadata back is the launcher's own reader (update/tuf/metadata.h), so that the tool
// never takes what launchers would refuse.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/result.h"
#include "tuf_keys.h"

namespace publish {

inline constexpr char kTufVersion[] = "1.0.31";

// "2025-01-31T12:00:00Z" for seconds since 1970 UTC.
std::string ExpiresText(std::int64_t seconds);

// The file bytes of a document.
std::string MetadataFileBytes(const nlohmann::json& document);

// Signs `signedPart` with each key; every signature is checked with the key's public half
// before it is used, so that a key file whose halves do not belong together is caught here.
base::Result<nlohmann::json> SignMetadata(const nlohmann::json& signedPart,
                                          const std::vector<const SigningKey*>& keys);

// The "signed" part of a root: every key of `roleKeys` (key objects), each role with its key
// ids and threshold, consistent snapshots.
nlohmann::json RootSigned(std::int64_t version, std::int64_t expires,
                          const std::map<Role, std::vector<nlohmann::json>>& roleKeys,
                          const std::map<Role, int>& thresholds);

}  // namespace publish
