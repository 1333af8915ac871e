#include "update/update_signature.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "base/text.h"
#include "platform/platform.h"

namespace {

constexpr std::string_view kHeaderLine = "quorvane-signature 1";
constexpr std::string_view kDomain = "quorvane-update-signature-v1";
constexpr std::string_view kKeyPrefix = "p256:";
// 18 digits stay below 2^63 and reach far past any real signing time.
constexpr std::size_t kMaxTimeDigits = 18;

std::string Hex(const std::uint8_t* bytes, std::size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsLowerMd5(const std::wstring& name) {
  if (name.size() != 32) return false;
  for (wchar_t c : name)
    if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) return false;
  return true;
}

// The message's name line must stay one line, and a package is named by its MD5 exactly as
// the launcher names the .pak (so "ABC…" and "abc…" cannot be two signed names).
bool SignableName(SignedFileKind kind, const std::wstring& name, std::wstring* why) {
  if (kind == SignedFileKind::kPackage) {
    if (IsLowerMd5(name)) return true;
    *why = L"a package is signed under its MD5 in 32 lowercase hex digits, not " + name;
    return false;
  }
  if (name.empty()) {
    *why = L"a library without a name cannot be signed";
    return false;
  }
  for (wchar_t c : name) {
    if (c < 0x20 || c == 0x7F) {
      *why = L"a library name with control characters cannot be signed";
      return false;
    }
  }
  return true;
}

platform::Sha256Digest MessageDigest(SignedFileKind kind, const std::wstring& name,
                                     std::int64_t time, const platform::Sha256Digest& fileSha256) {
  std::string message;
  message += kDomain;
  message += "\nkind ";
  message += kind == SignedFileKind::kPackage ? "package" : "library";
  message += "\nname " + base::WideToUtf8(name);
  message += "\ntime " + std::to_string(time);
  message += "\nsha256 " + Hex(fileSha256.data(), fileSha256.size()) + "\n";
  return platform::Sha256::Of(message.data(), message.size());
}

std::wstring Quoted(std::string_view line) {
  std::wstring out = L"\"";
  for (char c : line.substr(0, 40)) {
    auto u = static_cast<unsigned char>(c);
    out += (u >= 0x20 && u < 0x7F) ? static_cast<wchar_t>(u) : L'?';
  }
  if (line.size() > 40) out += L"...";
  return out + L"\"";
}

}  // namespace

std::optional<std::string> ComposeUpdateSignature(const platform::P256PrivateKey& key,
                                                  SignedFileKind kind, const std::wstring& name,
                                                  const platform::Sha256Digest& fileSha256,
                                                  std::wstring* error,
                                                  std::optional<std::int64_t> unixTime) {
  if (!SignableName(kind, name, error)) return std::nullopt;
  std::int64_t time = unixTime ? *unixTime
                               : std::chrono::duration_cast<std::chrono::seconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count();
  if (time < 0 || std::to_string(time).size() > kMaxTimeDigits) {
    *error = L"a signing time before 1970 or too far ahead";
    return std::nullopt;
  }
  platform::Error err;
  auto signature = key.SignDigest(MessageDigest(kind, name, time, fileSha256), &err);
  if (!signature) {
    *error = L"signing failed: " + err.message;
    return std::nullopt;
  }
  return std::string(kHeaderLine) + "\ntime " + std::to_string(time) + "\nsig " +
         platform::Base64Encode(signature->data(), signature->size()) + "\n";
}

std::optional<UpdateSignature> ParseUpdateSignature(std::string_view text, std::wstring* reason) {
  if (text.size() > kMaxSignatureFileSize) {
    *reason = L"a signature file of " + std::to_wstring(text.size()) + L" bytes";
    return std::nullopt;
  }
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  if (lines.size() != 3) {
    *reason = L"a signature file has 3 lines, not " + std::to_wstring(lines.size());
    return std::nullopt;
  }
  if (lines[0] != kHeaderLine) {
    *reason = lines[0].rfind("quorvane-signature ", 0) == 0
                  ? L"unknown signature file version " + Quoted(lines[0])
                  : L"not a signature file: " + Quoted(lines[0]);
    return std::nullopt;
  }

  UpdateSignature result;
  std::string_view time = lines[1];
  if (time.rfind("time ", 0) != 0) {
    *reason = L"no time line: " + Quoted(lines[1]);
    return std::nullopt;
  }
  time.remove_prefix(5);
  bool digits = !time.empty() && time.size() <= kMaxTimeDigits && (time == "0" || time[0] != '0');
  for (char c : time) digits = digits && c >= '0' && c <= '9';
  if (!digits) {
    *reason = L"a bad signing time: " + Quoted(lines[1]);
    return std::nullopt;
  }
  for (char c : time) result.time = result.time * 10 + (c - '0');

  std::string_view sig = lines[2];
  if (sig.rfind("sig ", 0) != 0) {
    *reason = L"no sig line: " + Quoted(lines[2]);
    return std::nullopt;
  }
  sig.remove_prefix(4);
  auto bytes = platform::Base64Decode(sig);
  if (!bytes || bytes->size() != result.signature.size()) {
    *reason = L"the signature is not 64 bytes of base64: " + Quoted(lines[2]);
    return std::nullopt;
  }
  std::copy(bytes->begin(), bytes->end(), result.signature.begin());
  return result;
}

SignatureCheck VerifyUpdateSignature(const platform::P256PublicKey& publicKey, SignedFileKind kind,
                                     const std::wstring& name,
                                     const platform::Sha256Digest& fileSha256,
                                     const UpdateSignature& signature) {
  std::wstring ignored;
  if (!SignableName(kind, name, &ignored)) return SignatureCheck::kBadSignature;
  return platform::VerifyP256Sha256Digest(
             publicKey, MessageDigest(kind, name, signature.time, fileSha256), signature.signature)
             ? SignatureCheck::kValid
             : SignatureCheck::kBadSignature;
}

SignatureVerdict CheckUpdateSignatureFile(const platform::P256PublicKey& publicKey,
                                          SignedFileKind kind, const std::wstring& name,
                                          const platform::Sha256Digest& fileSha256,
                                          std::string_view fileText) {
  SignatureVerdict verdict;
  auto parsed = ParseUpdateSignature(fileText, &verdict.reason);
  if (!parsed) return verdict;
  verdict.time = parsed->time;
  if (!SignableName(kind, name, &verdict.reason)) {
    verdict.check = SignatureCheck::kBadSignature;
    return verdict;
  }
  verdict.check = VerifyUpdateSignature(publicKey, kind, name, fileSha256, *parsed);
  if (verdict.check != SignatureCheck::kValid)
    verdict.reason = L"the signature does not match this file and key";
  return verdict;
}

std::string PublicKeyText(const platform::P256PublicKey& key) {
  return std::string(kKeyPrefix) + Hex(key.data(), key.size());
}

std::optional<platform::P256PublicKey> ParsePublicKeyText(std::string_view text,
                                                          std::wstring* reason) {
  platform::P256PublicKey key{};
  if (text.rfind(kKeyPrefix, 0) != 0) {
    *reason =
        text.empty() ? L"no update key" : L"an update key starts with p256:, not " + Quoted(text);
    return std::nullopt;
  }
  text.remove_prefix(kKeyPrefix.size());
  if (text.size() != 2 * key.size()) {
    *reason = L"an update key has 128 hex digits after p256:, not " + std::to_wstring(text.size());
    return std::nullopt;
  }
  for (std::size_t i = 0; i < key.size(); ++i) {
    int high = HexDigit(text[2 * i]);
    int low = HexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0) {
      *reason = L"an update key holds a character that is no hex digit";
      return std::nullopt;
    }
    key[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return key;
}

std::wstring SignatureFileName(const std::wstring& name) { return name + L".sig"; }
