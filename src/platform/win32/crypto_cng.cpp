// Windows: SHA-256 and ECDSA P-256 verification through CNG (bcrypt.dll), which does all
// the arithmetic.
#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "platform/crypto.h"
#include "platform/win32/cng_common.h"

namespace platform {

using cng::Algorithm;
using cng::CngError;
using cng::Key;
using cng::Succeeded;
using cng::kCoordinate;

// --- SHA-256 -------------------------------------------------------------------------

struct Sha256::State {
  Algorithm algorithm{BCRYPT_SHA256_ALGORITHM};
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool ok = true;
  Error failure;

  void Fault(const wchar_t* call, NTSTATUS status) {
    ok = false;
    failure = CngError(call, status);
  }
  // A fresh hash object: CNG's are spent by BCryptFinishHash (reusable ones need Windows 8).
  void Start() {
    if (!ok) return;
    if (!algorithm.get()) return Fault(L"BCryptOpenAlgorithmProvider(SHA256)", algorithm.status());
    NTSTATUS status = BCryptCreateHash(algorithm.get(), &hash, nullptr, 0, nullptr, 0, 0);
    if (!Succeeded(status)) {
      hash = nullptr;
      Fault(L"BCryptCreateHash", status);
    }
  }
  void Stop() {
    if (hash) BCryptDestroyHash(hash);
    hash = nullptr;
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) { state_->Start(); }

Sha256::~Sha256() {
  if (state_) state_->Stop();
}

Sha256::Sha256(Sha256&& other) noexcept = default;
Sha256& Sha256::operator=(Sha256&& other) noexcept {
  if (this != &other) {
    if (state_) state_->Stop();
    state_ = std::move(other.state_);
  }
  return *this;
}

void Sha256::Update(const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (state_->ok && size > 0) {
    ULONG chunk = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
    NTSTATUS status = BCryptHashData(state_->hash, const_cast<PUCHAR>(p), chunk, 0);
    if (!Succeeded(status)) state_->Fault(L"BCryptHashData", status);
    p += chunk;
    size -= chunk;
  }
}

Sha256Digest Sha256::Finish() {
  Sha256Digest digest{};
  if (state_->ok) {
    NTSTATUS status =
        BCryptFinishHash(state_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0);
    if (!Succeeded(status)) state_->Fault(L"BCryptFinishHash", status);
  }
  if (!state_->ok) digest.fill(0);
  state_->Stop();
  state_->Start();
  return digest;
}

bool Sha256::Ok() const { return state_->ok; }
const Error& Sha256::Failure() const { return state_->failure; }

// --- Verification --------------------------------------------------------------------

bool VerifyP256Sha256Digest(const P256PublicKey& publicKey, const Sha256Digest& digest,
                            const P256Signature& signature) {
  Algorithm algorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  if (!algorithm.get()) return false;
  std::uint8_t blob[sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kCoordinate];
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kCoordinate};
  std::memcpy(blob, &header, sizeof header);
  std::memcpy(blob + sizeof header, publicKey.data(), publicKey.size());
  Key key;
  if (!Succeeded(BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.out(),
                                     blob, sizeof blob, 0)))
    return false;
  return BCryptVerifySignature(key.get(), nullptr, const_cast<PUCHAR>(digest.data()),
                               static_cast<ULONG>(digest.size()),
                               const_cast<PUCHAR>(signature.data()),
                               static_cast<ULONG>(signature.size()), 0) == 0;
}

}  // namespace platform
