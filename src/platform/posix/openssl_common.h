// What the libcrypto code of the platform layer shares: owners that free what OpenSSL
// allocated, the curve's name and the text of a failure.
#pragma once

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <memory>

#include "base/text.h"
#include "platform/platform.h"

namespace platform::openssl {

inline constexpr char kCurveName[] = "prime256v1";

// The reason OpenSSL queued for the failure of `what`, emptying its queue.
inline Error OpenSslError(const wchar_t* what) {
  Error e;
  unsigned long code = ERR_get_error();
  e.code = static_cast<std::uint32_t>(code);
  e.message = what;
  if (code != 0) {
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    e.message += L": " + base::Utf8ToWide(text);
  }
  ERR_clear_error();
  return e;
}

struct PkeyDeleter {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct PkeyCtxDeleter {
  void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
struct BioDeleter {
  void operator()(BIO* p) const { BIO_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyDeleter>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxDeleter>;
using Bio = std::unique_ptr<BIO, BioDeleter>;

}  // namespace platform::openssl
