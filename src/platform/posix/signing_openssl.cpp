// Linux: P-256 private keys and ECDSA signing through OpenSSL 3's libcrypto, for the
// publish tool: OpenSSL reads and writes the key files itself.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/pem.h>

#include <cstring>
#include <string>

#include "base/der_pem.h"
#include "base/text.h"
#include "platform/posix/openssl_common.h"
#include "platform/signing.h"

namespace platform {

using namespace openssl;

namespace {

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
  base::Result<base::P256RawSignature> decoded = base::ParseEcdsaSignatureDer(der, derLength);
  if (!decoded) {
    SetFailure(err, L"decoding the signature: " + decoded.failure().reason);
    return std::nullopt;
  }
  P256Signature rs;
  std::memcpy(rs.data(), decoded->data(), rs.size());
  return rs;
}

}  // namespace platform
