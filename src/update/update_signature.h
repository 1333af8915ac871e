// Signed updates: the signature file that the publish tool writes beside every package and
// library, and its check by the launcher against the public key built into it.
//
// A signature file ("<md5>.pak.sig", "install/runtime/<entry>.sig") is three lines of ASCII:
//
//   quorvane-signature 1
//   time 1717171717
//   sig <base64 of the 64-byte r||s>
//
// The ECDSA P-256 signature is over the SHA-256 of this message (LF line ends, UTF-8):
//
//   quorvane-update-signature-v1
//   kind package                  (or: kind library)
//   name <the package's MD5, 32 lowercase hex digits | the library's entry, e.g. lib/x.jar>
//   time <the time line's number>
//   sha256 <the SHA-256 of the file's bytes as served, 64 lowercase hex digits>
//
// so a signature holds only for the one file under its one kind and name: it can be moved
// neither to another library nor to a package, and its time cannot be changed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/crypto.h"

enum class SignedFileKind { kPackage, kLibrary };

// What a signature file says.
struct UpdateSignature {
  std::int64_t time = 0;  // when it was signed: seconds since 1970-01-01 UTC
  platform::P256Signature signature{};
};

// More than any signature file holds: a larger download is not one.
inline constexpr std::size_t kMaxSignatureFileSize = 256;

// The signature file for a file of that kind and name whose bytes hash to `fileSha256`,
// signed now (or at `unixTime` when given). Nothing, with the reason in *error, when the
// name cannot be signed (empty, control characters, a package name that is not a
// lowercase MD5) or the system fails to sign.
std::optional<std::string> ComposeUpdateSignature(const platform::P256PrivateKey& key,
                                                  SignedFileKind kind, const std::wstring& name,
                                                  const platform::Sha256Digest& fileSha256,
                                                  std::wstring* error,
                                                  std::optional<std::int64_t> unixTime = {});

// Reads a signature file strictly: exactly the three lines above, in that order (LF or
// CR LF line ends, the last one optional), version 1, a time of decimal digits without
// leading zeros, a canonical base64 signature of 64 bytes. Nothing, with the reason for
// the log in *reason, otherwise.
std::optional<UpdateSignature> ParseUpdateSignature(std::string_view text, std::wstring* reason);

enum class SignatureCheck {
  kValid,         // made with the key for exactly this file, kind and name at its time
  kMalformed,     // not a signature file (see the reason)
  kBadSignature,  // a signature file, but not one the key made for this file, kind and name
};

// Checks a parsed signature.
SignatureCheck VerifyUpdateSignature(const platform::P256PublicKey& publicKey, SignedFileKind kind,
                                     const std::wstring& name,
                                     const platform::Sha256Digest& fileSha256,
                                     const UpdateSignature& signature);

struct SignatureVerdict {
  SignatureCheck check = SignatureCheck::kMalformed;
  std::int64_t time = 0;  // the signing time, when the file parsed
  std::wstring reason;    // for the log, when not kValid
};

// Parses and checks the downloaded bytes of a signature file in one step.
SignatureVerdict CheckUpdateSignatureFile(const platform::P256PublicKey& publicKey,
                                          SignedFileKind kind, const std::wstring& name,
                                          const platform::Sha256Digest& fileSha256,
                                          std::string_view fileText);

// The one-line text of a public key, "p256:" and the 128 lowercase hex digits of X||Y:
// what `publish --new-key` prints and LAUNCHER_UPDATE_PUBLIC_KEY holds.
std::string PublicKeyText(const platform::P256PublicKey& key);
// Reads that text (hex digits in either case). Nothing, with the reason in *reason, for
// anything else, the empty text included.
std::optional<platform::P256PublicKey> ParsePublicKeyText(std::string_view text,
                                                          std::wstring* reason);

// The name of a file's signature file: "<name>.sig".
std::wstring SignatureFileName(const std::wstring& name);
