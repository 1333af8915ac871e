// The canonical JSON that TUF signs: object keys sorted (by their UTF-8 bytes, which is
// code point order), no white space, strings with only '"' and '\' escaped (every other
// byte as it is), integers only, true/false/null. Signatures in TUF metadata are over the
// canonical form of the "signed" object, so signer and verifier must produce the same bytes.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "base/result.h"

namespace update::tuf {

// kInvalid for a value canonical JSON cannot hold (a number with a fraction or exponent),
// or nested more than 64 levels deep.
base::Result<std::string> CanonicalJson(const nlohmann::json& value);

}  // namespace update::tuf
