// Signed updates as the update run applies them: whether a downloaded package or library
// may be installed, and the signing time of the installed package, below which no package
// is taken again.
//
// Without an update key (unsigned mode) every check accepts at once and fetches nothing.
// With one, a check fetches the one signature file of what was just downloaded and has it
// verified (update_signature.h); signatures are fetched only with a download, so a current
// installation costs no extra request.
//
// What the update run does with it:
//
//   once, after t.log is started:
//     SignaturePolicy signing{settings.updatePublicKey};
//     LogSigningMode(signing);
//
//   the package is here whole and its MD5 checked, and it has not replaced the jar yet:
//     PackageVerdict verdict = CheckPackage(signing, workingFolder, packageUrl, md5, sha256);
//     if (verdict.unreachable) return UpdateFailure::kPackageDownload;  // bytes kept
//     if (!verdict.accepted) return UpdateFailure::kSignature;  // the jar stays as it was
//   the package has replaced the jar:
//     RememberInstalledPackage(workingFolder, verdict);
//
//   a library is here whole and not stored yet:
//     if (!CheckLibrary(signing, libraryUrl, entry, sha256)) continue;  // not stored
//
// Every refusal is logged with its reason; the functions never fail otherwise.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/crypto.h"

// Whether updates must be signed, and with which key.
struct SignaturePolicy {
  // Empty: unsigned mode, the launcher installs what the server offers.
  std::optional<platform::P256PublicKey> key;

  bool Signed() const { return key.has_value(); }
};

// The built-in key text (branding::kUpdatePublicKey, "p256:" and 128 hex digits) as the
// policy's key: nothing for the empty text. A text of any other shape (which the build
// refuses) gives a key that verifies no signature, so a launcher meant to be signed never
// falls back to taking unsigned updates.
std::optional<platform::P256PublicKey> UpdateKeyFromText(std::string_view text);

// In unsigned mode, the run's one t.log line that says so ("updates are not signed").
void LogSigningMode(const SignaturePolicy& policy);

// Whether a downloaded package may replace the jar.
struct PackageVerdict {
  bool accepted = false;
  // Signed mode: the accepted package's signing time, for RememberInstalledPackage.
  std::optional<std::int64_t> signedAt;
  // Not accepted because the signature could not be had for a network failure (the
  // connection broke, the server answered 5xx, 408 or 429 on every attempt): no verdict
  // on the package, whose bytes stay for the next run to check again.
  bool unreachable = false;
};

// Unsigned mode: accepted, without a request. Signed mode: fetches `packageUrl` + ".sig"
// (up to three attempts, at most kMaxSignatureFileSize bytes) and accepts the package only
// when that file is a signature by the policy's key of a package named `md5` (lowercase
// hex, as in update.txt) whose bytes as served hash to `sha256`, signed no earlier than
// the installed package (see RememberInstalledPackage). A missing, malformed, foreign or
// older signature refuses the package; one that could not be fetched says `unreachable`.
PackageVerdict CheckPackage(const SignaturePolicy& policy, const std::wstring& workingFolder,
                            const std::wstring& packageUrl, const std::wstring& md5,
                            const platform::Sha256Digest& sha256);

// After an accepted package has replaced the jar: keeps its signing time in the working
// folder ("package.signed", the decimal time and a line feed, replaced in one step), the
// floor for every later package. Does nothing for a verdict without a signing time
// (unsigned mode). A record that is missing or unreadable sets no floor.
void RememberInstalledPackage(const std::wstring& workingFolder, const PackageVerdict& verdict);

// Whether a downloaded library may be stored. Unsigned mode: true, without a request.
// Signed mode: fetches `libraryUrl` + ".sig" (up to three attempts, at most
// kMaxSignatureFileSize bytes); true only when that file is a signature by the policy's
// key of a library named `entry` (as written in libs.txt) whose bytes hash to `sha256`.
// `libraryUrl` is the URL the library itself came from.
bool CheckLibrary(const SignaturePolicy& policy, const std::wstring& libraryUrl,
                  const std::wstring& entry, const platform::Sha256Digest& sha256);
