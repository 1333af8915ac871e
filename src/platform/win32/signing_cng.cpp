// Windows: P-256 private keys and ECDSA signing through CNG (bcrypt.dll), for the publish
// tool. CNG has no key file format of its own: the PEM file (base/der_pem.h) is read and
// written as bytes, and the key goes in and out of CNG as an ECCPRIVATE_BLOB.
#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/der_pem.h"
#include "platform/signing.h"
#include "platform/win32/cng_common.h"

namespace platform {

using cng::Algorithm;
using cng::CngError;
using cng::Key;
using cng::Succeeded;
using cng::kCoordinate;

// --- Private keys --------------------------------------------------------------------

struct P256PrivateKey::Impl {
  Algorithm algorithm{BCRYPT_ECDSA_P256_ALGORITHM};
  Key key;
  base::P256PrivateKeyParts parts;
};

P256PrivateKey::P256PrivateKey(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
P256PrivateKey::~P256PrivateKey() = default;
P256PrivateKey::P256PrivateKey(P256PrivateKey&& other) noexcept = default;
P256PrivateKey& P256PrivateKey::operator=(P256PrivateKey&& other) noexcept = default;

namespace {

// The security attributes of a file that only the user running this process may open.
class OwnerOnly {
 public:
  bool Make(Error* err) {
    auto fail = [err] {
      SetLastSystemError(err);
      return false;
    };
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return fail();
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    user_.resize(size);
    bool got = size > 0 && GetTokenInformation(token, TokenUser, user_.data(), size, &size);
    CloseHandle(token);
    if (!got) return fail();
    PSID sid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
    acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
    PACL acl = reinterpret_cast<PACL>(acl_.data());
    if (!InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) ||
        !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
      return fail();
    attributes_ = SECURITY_ATTRIBUTES{sizeof attributes_, &descriptor_, FALSE};
    return true;
  }
  SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }

 private:
  std::vector<std::uint8_t> user_;
  std::vector<std::uint8_t> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace

std::optional<P256PrivateKey> P256PrivateKey::Generate(Error* err) {
  auto impl = std::make_unique<Impl>();
  if (!impl->algorithm.get()) {
    SetFailure(err, CngError(L"BCryptOpenAlgorithmProvider(ECDSA_P256)", impl->algorithm.status()));
    return std::nullopt;
  }
  NTSTATUS status = BCryptGenerateKeyPair(impl->algorithm.get(), impl->key.out(), 256, 0);
  if (!Succeeded(status)) {
    SetFailure(err, CngError(L"BCryptGenerateKeyPair", status));
    return std::nullopt;
  }
  status = BCryptFinalizeKeyPair(impl->key.get(), 0);
  if (!Succeeded(status)) {
    SetFailure(err, CngError(L"BCryptFinalizeKeyPair", status));
    return std::nullopt;
  }
  // BCRYPT_ECCKEY_BLOB, then X, Y and d, each 32 bytes big-endian.
  std::uint8_t blob[sizeof(BCRYPT_ECCKEY_BLOB) + 3 * kCoordinate];
  ULONG got = 0;
  status =
      BCryptExportKey(impl->key.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob, sizeof blob, &got, 0);
  if (!Succeeded(status) || got != sizeof blob) {
    SecureZeroMemory(blob, sizeof blob);
    SetFailure(err, CngError(L"BCryptExportKey(ECCPRIVATE_BLOB)", status));
    return std::nullopt;
  }
  std::memcpy(impl->parts.point.data(), blob + sizeof(BCRYPT_ECCKEY_BLOB), 2 * kCoordinate);
  std::memcpy(impl->parts.d.data(), blob + sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kCoordinate, kCoordinate);
  SecureZeroMemory(blob, sizeof blob);
  return P256PrivateKey(std::move(impl));
}

std::optional<P256PrivateKey> P256PrivateKey::ReadPem(const std::wstring& path, Error* err) {
  std::string text;
  if (!ReadWholeFile(path, 65536, &text, err)) return std::nullopt;

  auto impl = std::make_unique<Impl>();
  base::Result<base::P256PrivateKeyParts> parts = base::ParseP256PrivateKeyPem(text);
  base::Wipe(text.data(), text.size());
  if (!parts) {
    SetFailure(err, parts.failure().reason);
    return std::nullopt;
  }
  impl->parts = *parts;
  if (!impl->algorithm.get()) {
    SetFailure(err, CngError(L"BCryptOpenAlgorithmProvider(ECDSA_P256)", impl->algorithm.status()));
    return std::nullopt;
  }
  std::uint8_t blob[sizeof(BCRYPT_ECCKEY_BLOB) + 3 * kCoordinate];
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PRIVATE_P256_MAGIC, kCoordinate};
  std::memcpy(blob, &header, sizeof header);
  std::memcpy(blob + sizeof header, impl->parts.point.data(), 2 * kCoordinate);
  std::memcpy(blob + sizeof header + 2 * kCoordinate, impl->parts.d.data(), kCoordinate);
  NTSTATUS status = BCryptImportKeyPair(impl->algorithm.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB,
                                        impl->key.out(), blob, sizeof blob, 0);
  SecureZeroMemory(blob, sizeof blob);
  if (!Succeeded(status)) {
    SetFailure(err, CngError(L"BCryptImportKeyPair(ECCPRIVATE_BLOB)", status));
    return std::nullopt;
  }
  return P256PrivateKey(std::move(impl));
}

bool P256PrivateKey::WritePem(const std::wstring& path, Error* err) const {
  // Readable by its owner only, as the 0600 file on Linux: a protected DACL (nothing
  // inherited from the folder) with one entry, for the user who runs the tool.
  OwnerOnly security;
  if (!security.Make(err)) return false;
  std::string pem = base::P256PrivateKeyPem(impl_->parts);

  // CREATE_NEW: an existing file is never replaced.
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, security.Attributes(), CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    SetLastSystemError(err);
    SecureZeroMemory(pem.data(), pem.size());
    return false;
  }
  DWORD written = 0;
  bool ok = WriteFile(h, pem.data(), static_cast<DWORD>(pem.size()), &written, nullptr) &&
            written == pem.size() && FlushFileBuffers(h);
  if (!ok) SetLastSystemError(err);
  CloseHandle(h);
  if (!ok) DeleteFileW(path.c_str());
  SecureZeroMemory(pem.data(), pem.size());
  return ok;
}

P256PublicKey P256PrivateKey::PublicKey() const {
  P256PublicKey key;
  std::memcpy(key.data(), impl_->parts.point.data(), key.size());
  return key;
}

std::optional<P256Signature> P256PrivateKey::SignDigest(const Sha256Digest& digest,
                                                        Error* err) const {
  P256Signature signature{};
  ULONG got = 0;
  NTSTATUS status = BCryptSignHash(impl_->key.get(), nullptr, const_cast<PUCHAR>(digest.data()),
                                   static_cast<ULONG>(digest.size()), signature.data(),
                                   static_cast<ULONG>(signature.size()), &got, 0);
  if (!Succeeded(status) || got != signature.size()) {
    SetFailure(err, CngError(L"BCryptSignHash", status));
    return std::nullopt;
  }
  return signature;
}

}  // namespace platform
