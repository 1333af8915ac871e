#include "update/signed_update.h"

#include <string>

#include "base/retry.h"
#include "base/text.h"
#include "diagnostics/log.h"
#include "platform/atomic_file.h"
#include "platform/http.h"
#include "platform/platform.h"
#include "update/update_signature.h"

namespace {

constexpr wchar_t kInstalledRecord[] = L"package.signed";

// Takes one signature file, and never more of it than a signature file can hold: the
// server (or whoever answers in its place) decides how much it sends.
class SignatureSink : public platform::HttpSink {
 public:
  bool Begin(unsigned status, std::int64_t contentLength) override {
    status_ = status;
    if (status >= 400) return false;
    if (contentLength > static_cast<std::int64_t>(kMaxSignatureFileSize)) {
      tooLarge_ = true;
      return false;
    }
    return true;
  }

  bool Append(const void* data, std::size_t size, platform::Error* err) override {
    if (size > kMaxSignatureFileSize - text_.size()) {
      tooLarge_ = true;
      if (err) *err = {0, TooLargeMessage()};
      return false;
    }
    text_.append(static_cast<const char*>(data), size);
    return true;
  }

  unsigned Status() const { return status_; }
  bool TooLarge() const { return tooLarge_; }
  std::string& Text() { return text_; }

  static std::wstring TooLargeMessage() {
    return L"a signature file is not larger than " + std::to_wstring(kMaxSignatureFileSize) +
           L" bytes";
  }

 private:
  unsigned status_ = 0;
  bool tooLarge_ = false;
  std::string text_;
};

// Whether an answer without a signature says the server has none (a 404, any other
// client error) or only that it could not give one now (a server error, a busy server):
// the latter is a network failure, like a dropped connection.
bool IsPassingTrouble(unsigned status) { return status >= 500 || status == 408 || status == 429; }

// One GET of a signature file, logged like every other fetch of the run. Nothing, with
// the reason in *why, when no whole signature-sized body came; *unreachable then tells
// whether that was for a network failure rather than an answer without a signature.
std::optional<std::string> FetchSignatureOnce(const std::wstring& url, std::wstring* why, bool* unreachable) {
  *unreachable = false;
  theLog.Write(L"start get url: %s", url);
  SignatureSink sink;
  platform::Error err;
  bool fetched = platform::HttpGet(url, sink, &err);
  if (sink.TooLarge()) {
    LogException({0, SignatureSink::TooLargeMessage()});
    *why = url + L" is larger than a signature file";
    return std::nullopt;
  }
  if (!fetched) {
    LogException(err);
    *why = L"no signature file at " + url + L": " + err.message;
    *unreachable = true;
    return std::nullopt;
  }
  if (sink.Status() >= 400) {
    theLog.Write(L"invalid http statue: %d from:%s", sink.Status(), url);
    *unreachable = IsPassingTrouble(sink.Status());
    *why = L"no signature file at " + url + L": status " + std::to_wstring(sink.Status());
    return std::nullopt;
  }
  theLog.Write(L"http complete, len = %d", sink.Text().size());
  return std::move(sink.Text());
}

// The signing time of the signature file at `url` when it is valid for that file; else
// nothing, with the reason in *why. A signature that could not be had gets three
// attempts, as every download does; one that came whole is judged as it is. *unreachable:
// the last attempt failed for the network's sake (see FetchSignatureOnce), not for the
// signature's.
std::optional<std::int64_t> CheckSignatureAt(const platform::P256PublicKey& key,
                                             SignedFileKind kind, const std::wstring& name,
                                             const platform::Sha256Digest& sha256,
                                             const std::wstring& url, std::wstring* why,
                                             bool* unreachable) {
  std::optional<std::string> text;
  base::Retry([&] { return (text = FetchSignatureOnce(url, why, unreachable)).has_value(); });
  if (!text) return std::nullopt;
  SignatureVerdict verdict = CheckUpdateSignatureFile(key, kind, name, sha256, *text);
  if (verdict.check != SignatureCheck::kValid) {
    *why = verdict.reason;
    return std::nullopt;
  }
  return verdict.time;
}

std::wstring RecordPath(const std::wstring& workingFolder) {
  return platform::JoinPath(workingFolder, kInstalledRecord);
}

// The installed package's signing time; nothing when there is no record, or none that
// reads as one (it sets no floor then).
std::optional<std::int64_t> ReadInstalledSigningTime(const std::wstring& workingFolder) {
  platform::File file;
  if (!file.Open(RecordPath(workingFolder), platform::OpenMode::kReadShared)) return std::nullopt;
  char buffer[32];
  std::size_t used = 0;
  std::size_t got = 0;
  do {
    if (!file.Read(buffer + used, sizeof buffer - used, &got)) return std::nullopt;
    used += got;
  } while (got > 0 && used < sizeof buffer);

  // The digits of a signing time, as a signature file's time line holds them, and a line
  // feed: what RememberInstalledPackage writes.
  std::string_view text(buffer, used);
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  bool digits = !text.empty() && text.size() <= 18 && (text == "0" || text[0] != '0');
  std::int64_t time = 0;
  for (char c : text) {
    digits = digits && c >= '0' && c <= '9';
    if (digits) time = time * 10 + (c - '0');
  }
  if (!digits) {
    theLog.Write(L"ignored an unreadable %s", kInstalledRecord);
    return std::nullopt;
  }
  return time;
}

}  // namespace

std::optional<platform::P256PublicKey> UpdateKeyFromText(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::wstring reason;
  if (auto key = ParsePublicKeyText(text, &reason)) return key;
  // All zeros is no point of the curve: every verification with it fails.
  return platform::P256PublicKey{};
}

void LogSigningMode(const SignaturePolicy& policy) {
  if (!policy.Signed()) theLog.Write(L"updates are not signed");
}

PackageVerdict CheckPackage(const SignaturePolicy& policy, const std::wstring& workingFolder,
                            const std::wstring& packageUrl, const std::wstring& md5,
                            const platform::Sha256Digest& sha256) {
  PackageVerdict verdict;
  if (!policy.Signed()) {
    verdict.accepted = true;
    return verdict;
  }
  std::wstring reason;
  bool unreachable = false;
  std::optional<std::int64_t> time =
      CheckSignatureAt(*policy.key, SignedFileKind::kPackage, base::AsciiLower(md5), sha256,
                       packageUrl + L".sig", &reason, &unreachable);
  if (!time && unreachable) {
    theLog.Write(L"package signature unavailable, package kept: %s", reason);
    verdict.unreachable = true;
    return verdict;
  }
  if (!time) {
    theLog.Write(L"package signature refused: %s", reason);
    return verdict;
  }
  // The installed package's own signature is never replayed here: a package with the
  // installed MD5 is not downloaded. Equal times are the same release fetched again (the
  // jar was damaged) or two releases of one second, which no attacker can tell apart.
  std::optional<std::int64_t> floor = ReadInstalledSigningTime(workingFolder);
  if (floor && *time < *floor) {
    theLog.Write(L"package signature refused: signed at %d, before the installed package (%d)",
                 *time, *floor);
    return verdict;
  }
  theLog.Write(L"package signature valid, signed at %d", *time);
  verdict.accepted = true;
  verdict.signedAt = time;
  return verdict;
}

void RememberInstalledPackage(const std::wstring& workingFolder, const PackageVerdict& verdict) {
  if (!verdict.accepted || !verdict.signedAt) return;
  // Another launcher of the same folder may have installed a newer package meanwhile:
  // the floor never goes down.
  std::optional<std::int64_t> floor = ReadInstalledSigningTime(workingFolder);
  if (floor && *floor > *verdict.signedAt) return;
  std::string text = std::to_string(*verdict.signedAt) + "\n";
  platform::Error err;
  if (!platform::WriteFileAtomically(RecordPath(workingFolder), text.data(), text.size(), &err))
    LogException(err);
}

bool CheckLibrary(const SignaturePolicy& policy, const std::wstring& libraryUrl,
                  const std::wstring& entry, const platform::Sha256Digest& sha256) {
  if (!policy.Signed()) return true;
  std::wstring reason;
  bool unreachable = false;
  std::optional<std::int64_t> time = CheckSignatureAt(*policy.key, SignedFileKind::kLibrary, entry,
                                                      sha256, libraryUrl + L".sig", &reason, &unreachable);
  if (!time) {
    theLog.Write(L"library signature refused: %s: %s", entry, reason);
    return false;
  }
  theLog.Write(L"library signature valid: %s, signed at %d", entry, *time);
  return true;
}
