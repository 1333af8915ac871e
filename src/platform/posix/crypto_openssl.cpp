// Linux: SHA-256 and ECDSA P-256 through OpenSSL 3's libcrypto (EVP and OSSL_PARAM
// interfaces; the older EC_KEY calls are deprecated there).
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/pem.h>

#include <cstring>
#include <string>

#include "platform/crypto.h"

#include "base/text.h"

namespace platform {

namespace {

constexpr char kCurveName[] = "prime256v1";

// The reason OpenSSL queued for the failure of `what`, emptying its queue.
Error OpenSslError(const wchar_t* what) {
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
struct SigDeleter {
  void operator()(ECDSA_SIG* p) const { ECDSA_SIG_free(p); }
};
struct BioDeleter {
  void operator()(BIO* p) const { BIO_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyDeleter>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxDeleter>;
using Sig = std::unique_ptr<ECDSA_SIG, SigDeleter>;
using Bio = std::unique_ptr<BIO, BioDeleter>;

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

// X || Y of an EC key of the curve; false for any other key.
bool PublicXY(EVP_PKEY* key, P256PublicKey* xy) {
  if (EVP_PKEY_get_base_id(key) != EVP_PKEY_EC) return false;
  char group[64] = {};
  size_t groupLength = 0;
  if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                     &groupLength) <= 0 ||
      std::strcmp(group, kCurveName) != 0)
    return false;
  BIGNUM* x = nullptr;
  BIGNUM* y = nullptr;
  bool ok = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_X, &x) == 1 &&
            EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_Y, &y) == 1 &&
            BN_bn2binpad(x, xy->data(), 32) == 32 && BN_bn2binpad(y, xy->data() + 32, 32) == 32;
  BN_free(x);
  BN_free(y);
  return ok;
}

// Never ask on the terminal for the pass phrase of an encrypted key file.
int NoPassword(char*, int, int, void*) { return -1; }

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
  Sig sig(ECDSA_SIG_new());
  if (!key || !sig) {
    ERR_clear_error();
    return false;
  }
  BIGNUM* r = BN_bin2bn(signature.data(), 32, nullptr);
  BIGNUM* s = BN_bin2bn(signature.data() + 32, 32, nullptr);
  if (r == nullptr || s == nullptr || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    ERR_clear_error();
    return false;
  }
  // OpenSSL verifies the DER form; the conversion is exact, whatever r and s hold.
  unsigned char* der = nullptr;
  int derLength = i2d_ECDSA_SIG(sig.get(), &der);
  PkeyCtx ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
  bool valid = derLength > 0 && ctx && EVP_PKEY_verify_init(ctx.get()) == 1 &&
               EVP_PKEY_verify(ctx.get(), der, static_cast<size_t>(derLength), digest.data(),
                               digest.size()) == 1;
  OPENSSL_free(der);
  ERR_clear_error();
  return valid;
}

// --- Private keys --------------------------------------------------------------------

struct P256PrivateKey::Impl {
  Pkey key;
  P256PublicKey publicKey{};
};

P256PrivateKey::P256PrivateKey(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
P256PrivateKey::~P256PrivateKey() = default;
P256PrivateKey::P256PrivateKey(P256PrivateKey&& other) noexcept = default;
P256PrivateKey& P256PrivateKey::operator=(P256PrivateKey&& other) noexcept = default;

std::optional<P256PrivateKey> P256PrivateKey::Generate(Error* err) {
  auto impl = std::make_unique<Impl>();
  impl->key.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", kCurveName));
  if (!impl->key) {
    SetFailure(err, OpenSslError(L"generating a P-256 key"));
    return std::nullopt;
  }
  if (!PublicXY(impl->key.get(), &impl->publicKey)) {
    SetFailure(err, OpenSslError(L"reading the new key's public point"));
    return std::nullopt;
  }
  return P256PrivateKey(std::move(impl));
}

std::optional<P256PrivateKey> P256PrivateKey::ReadPem(const std::wstring& path, Error* err) {
  std::string text;
  if (!ReadWholeFile(path, 65536, &text, err)) return std::nullopt;
  // An "EC PARAMETERS" block before the key (`openssl ecparam -genkey` writes one) is
  // skipped by the reader, which looks for the first private key block.
  Bio bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
  ERR_clear_error();
  auto impl = std::make_unique<Impl>();
  if (bio) impl->key.reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassword, nullptr));
  OPENSSL_cleanse(text.data(), text.size());
  if (!impl->key) {
    SetFailure(err, OpenSslError(L"no unencrypted PEM private key"));
    return std::nullopt;
  }
  if (!PublicXY(impl->key.get(), &impl->publicKey)) {
    ERR_clear_error();
    SetFailure(err, L"not a key of the curve P-256 (prime256v1)");
    return std::nullopt;
  }
  return P256PrivateKey(std::move(impl));
}

bool P256PrivateKey::WritePem(const std::wstring& path, Error* err) const {
  Bio bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_PrivateKey(bio.get(), impl_->key.get(), nullptr, nullptr, 0, nullptr,
                                       nullptr) != 1) {
    SetFailure(err, OpenSslError(L"encoding the key"));
    return false;
  }
  char* pem = nullptr;
  long pemLength = BIO_get_mem_data(bio.get(), &pem);

  // O_EXCL: an existing file (or a link planted in its place) is never written through.
  std::string name = base::WideToUtf8(path);
  int fd;
  do {
    fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    SetLastSystemError(err);
    return false;
  }
  // The mode asked for above is narrowed by the umask, never widened: set it exactly.
  bool ok = ::fchmod(fd, 0600) == 0;
  const char* p = pem;
  size_t left = static_cast<size_t>(pemLength);
  while (ok && left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  if (!ok) SetLastSystemError(err);
  if (::close(fd) != 0 && ok) {
    SetLastSystemError(err);
    ok = false;
  }
  if (!ok) ::unlink(name.c_str());
  OPENSSL_cleanse(pem, static_cast<size_t>(pemLength));
  return ok;
}

P256PublicKey P256PrivateKey::PublicKey() const { return impl_->publicKey; }

std::optional<P256Signature> P256PrivateKey::SignDigest(const Sha256Digest& digest,
                                                        Error* err) const {
  PkeyCtx ctx(EVP_PKEY_CTX_new(impl_->key.get(), nullptr));
  unsigned char der[80];
  size_t derLength = sizeof der;
  if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 ||
      EVP_PKEY_sign(ctx.get(), der, &derLength, digest.data(), digest.size()) != 1) {
    SetFailure(err, OpenSslError(L"signing"));
    return std::nullopt;
  }
  const unsigned char* in = der;
  Sig sig(d2i_ECDSA_SIG(nullptr, &in, static_cast<long>(derLength)));
  P256Signature rs{};
  if (!sig || BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), rs.data(), 32) != 32 ||
      BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), rs.data() + 32, 32) != 32) {
    SetFailure(err, OpenSslError(L"decoding the signature"));
    return std::nullopt;
  }
  return rs;
}

}  // namespace platform
