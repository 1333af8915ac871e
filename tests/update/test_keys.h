// Signing keys for the tests of signed updates, made once per test program by the
// system's cryptography (CNG under Wine, libcrypto on Linux).
#pragma once

#include <gtest/gtest.h>

#include <optional>

#include "base/text.h"
#include "platform/crypto.h"
#include "platform/platform.h"

namespace test_keys {

inline const platform::P256PrivateKey& Make(std::optional<platform::P256PrivateKey>& slot) {
  if (!slot) {
    platform::Error err;
    slot = platform::P256PrivateKey::Generate(&err);
    EXPECT_TRUE(slot) << base::WideToUtf8(err.message);
  }
  return *slot;
}

// The vendor's, whose public half a signed launcher is built with.
inline const platform::P256PrivateKey& Vendor() {
  static std::optional<platform::P256PrivateKey> key;
  return Make(key);
}

// Someone else's.
inline const platform::P256PrivateKey& Other() {
  static std::optional<platform::P256PrivateKey> key;
  return Make(key);
}

}  // namespace test_keys
