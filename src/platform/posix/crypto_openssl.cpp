// Linux: SHA-256 and ECDSA P-256 verification through OpenSSL 3's libcrypto (EVP and
// OSSL_PARAM interfaces; the older EC_KEY calls are deprecated there).
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <cstring>
#include <vector>

#include "base/der_pem.h"
#include "platform/crypto.h"
#include "platform/posix/openssl_common.h"

#include "base/text.h"

namespace platform {

using namespace openssl;

namespace {

// An EC public key of the curve from the uncompressed point 04 || X || Y. OpenSSL checks
// that the point lies on the curve.
Pkey PublicKeyFromXY(const P256PublicKey& xy) {
  std::uint8_t point[65];
  point[0] = 0x04;
  std::memcpy(point + 1, xy.data(), xy.size());
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char*>(kCurveName),
                                       0),
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point),
      OSSL_PARAM_construct_end()};
  PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* key = nullptr;
  if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) <= 0 ||
      EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params) <= 0)
    return nullptr;
  return Pkey(key);
}

}  // namespace

// --- SHA-256 -------------------------------------------------------------------------

struct Sha256::State {
  EVP_MD_CTX* ctx = nullptr;
  bool ok = true;
  Error failure;

  void Start() {
    if (ok && EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) != 1) Fault(L"EVP_DigestInit_ex");
  }
  void Fault(const wchar_t* what) {
    ok = false;
    failure = OpenSslError(what);
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  state_->ctx = EVP_MD_CTX_new();
  if (state_->ctx == nullptr) state_->Fault(L"EVP_MD_CTX_new");
  state_->Start();
}

Sha256::~Sha256() {
  if (state_) EVP_MD_CTX_free(state_->ctx);
}

Sha256::Sha256(Sha256&& other) noexcept = default;
Sha256& Sha256::operator=(Sha256&& other) noexcept {
  if (this != &other) {
    if (state_) EVP_MD_CTX_free(state_->ctx);
    state_ = std::move(other.state_);
  }
  return *this;
}

void Sha256::Update(const void* data, std::size_t size) {
  if (!state_->ok || size == 0) return;
  if (EVP_DigestUpdate(state_->ctx, data, size) != 1) state_->Fault(L"EVP_DigestUpdate");
}

Sha256Digest Sha256::Finish() {
  Sha256Digest digest{};
  unsigned int length = 0;
  if (state_->ok &&
      (EVP_DigestFinal_ex(state_->ctx, digest.data(), &length) != 1 || length != digest.size())) {
    state_->Fault(L"EVP_DigestFinal_ex");
  }
  if (!state_->ok) digest.fill(0);
  state_->Start();
  return digest;
}

bool Sha256::Ok() const { return state_->ok; }
const Error& Sha256::Failure() const { return state_->failure; }

// --- Verification --------------------------------------------------------------------

bool VerifyP256Sha256Digest(const P256PublicKey& publicKey, const Sha256Digest& digest,
                            const P256Signature& signature) {
  Pkey key = PublicKeyFromXY(publicKey);
  if (!key) {
    ERR_clear_error();
    return false;
  }
  // OpenSSL verifies the DER form; the conversion is exact, whatever r and s hold.
  base::P256RawSignature rs;
  std::memcpy(rs.data(), signature.data(), rs.size());
  const std::vector<std::uint8_t> der = base::EcdsaSignatureDer(rs);
  PkeyCtx ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
  bool valid = ctx && EVP_PKEY_verify_init(ctx.get()) == 1 &&
               EVP_PKEY_verify(ctx.get(), der.data(), der.size(), digest.data(), digest.size()) == 1;
  ERR_clear_error();
  return valid;
}

}  // namespace platform
