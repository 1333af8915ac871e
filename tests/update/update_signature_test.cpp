// Signature files: what the publish tool writes, what the launcher accepts, and that a
// signature holds for its one file, kind, name and time only.
#include "update/update_signature.h"

#include <gtest/gtest.h>

#include <chrono>

#include "base/text.h"
#include "platform/platform.h"

namespace {

constexpr std::int64_t kTime = 1717171717;
const std::wstring kMd5 = L"0123456789abcdef0123456789abcdef";

platform::Sha256Digest Digest(const std::string& text) {
  return platform::Sha256::Of(text.data(), text.size());
}

platform::P256PrivateKey NewKey() {
  platform::Error err;
  auto key = platform::P256PrivateKey::Generate(&err);
  EXPECT_TRUE(key) << base::WideToUtf8(err.message);
  return std::move(*key);
}

std::string Compose(const platform::P256PrivateKey& key, SignedFileKind kind,
                    const std::wstring& name, const std::string& file, std::int64_t time = kTime) {
  std::wstring error;
  auto text = ComposeUpdateSignature(key, kind, name, Digest(file), &error, time);
  EXPECT_TRUE(text) << base::WideToUtf8(error);
  return text.value_or("");
}

}  // namespace

TEST(UpdateSignature, HoldsForItsFileKindNameAndTimeOnly) {
  const platform::P256PrivateKey key = NewKey();
  const platform::P256PrivateKey otherKey = NewKey();
  const std::string pakText = Compose(key, SignedFileKind::kPackage, kMd5, "package bytes");
  const std::string libText = Compose(key, SignedFileKind::kLibrary, L"lib/x.jar", "library bytes");

  std::wstring reason;
  auto pak = ParseUpdateSignature(pakText, &reason);
  ASSERT_TRUE(pak) << base::WideToUtf8(reason);
  EXPECT_EQ(pak->time, kTime);
  auto lib = ParseUpdateSignature(libText, &reason);
  ASSERT_TRUE(lib) << base::WideToUtf8(reason);

  const auto pub = key.PublicKey();
  EXPECT_EQ(
      VerifyUpdateSignature(pub, SignedFileKind::kPackage, kMd5, Digest("package bytes"), *pak),
      SignatureCheck::kValid);
  EXPECT_EQ(VerifyUpdateSignature(pub, SignedFileKind::kLibrary, L"lib/x.jar",
                                  Digest("library bytes"), *lib),
            SignatureCheck::kValid);
  SignatureVerdict verdict = CheckUpdateSignatureFile(pub, SignedFileKind::kPackage, kMd5,
                                                      Digest("package bytes"), pakText);
  EXPECT_EQ(verdict.check, SignatureCheck::kValid);
  EXPECT_EQ(verdict.time, kTime);

  UpdateSignature laterPak = *pak;
  laterPak.time += 1;
  UpdateSignature flippedPak = *pak;
  flippedPak.signature[10] ^= 0x04;
  struct Case {
    const char* name;
    platform::P256PublicKey key;
    SignedFileKind kind;
    std::wstring fileName;
    std::string bytes;
    const UpdateSignature& signature;
  } cases[] = {
      {"package under another key", otherKey.PublicKey(), SignedFileKind::kPackage, kMd5,
       "package bytes", *pak},
      {"package of other bytes", pub, SignedFileKind::kPackage, kMd5, "package bytez", *pak},
      {"package under another MD5", pub, SignedFileKind::kPackage,
       L"0123456789abcdef0123456789abcdee", "package bytes", *pak},
      {"package signature as a library", pub, SignedFileKind::kLibrary, kMd5, "package bytes",
       *pak},
      {"package with its time changed", pub, SignedFileKind::kPackage, kMd5, "package bytes",
       laterPak},
      {"package signature with a bit flipped", pub, SignedFileKind::kPackage, kMd5, "package bytes",
       flippedPak},
      {"library moved to another library", pub, SignedFileKind::kLibrary, L"lib/y.jar",
       "library bytes", *lib},
      {"library moved to another folder", pub, SignedFileKind::kLibrary, L"x.jar", "library bytes",
       *lib},
      {"library name with a space added", pub, SignedFileKind::kLibrary, L"lib/x.jar ",
       "library bytes", *lib},
      {"library signature as a package", pub, SignedFileKind::kPackage, kMd5, "library bytes",
       *lib},
      {"library of other bytes", pub, SignedFileKind::kLibrary, L"lib/x.jar", "", *lib},
      {"package under an upper-case MD5", pub, SignedFileKind::kPackage,
       L"0123456789ABCDEF0123456789ABCDEF", "package bytes", *pak},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(VerifyUpdateSignature(c.key, c.kind, c.fileName, Digest(c.bytes), c.signature),
              SignatureCheck::kBadSignature);
  }

  // The time line edited in the file itself: still a signature file, no longer a valid one.
  std::string edited = pakText;
  edited.replace(edited.find("1717171717"), 10, "1717171718");
  verdict = CheckUpdateSignatureFile(pub, SignedFileKind::kPackage, kMd5, Digest("package bytes"),
                                     edited);
  EXPECT_EQ(verdict.check, SignatureCheck::kBadSignature);
  EXPECT_EQ(verdict.time, kTime + 1);
  EXPECT_FALSE(verdict.reason.empty());
}

TEST(UpdateSignature, ComposeSignsNowAndRefusesNamesThatCannotBeSigned) {
  const platform::P256PrivateKey key = NewKey();
  auto now = [] {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  };
  const std::int64_t before = now();
  std::wstring error;
  auto text = ComposeUpdateSignature(key, SignedFileKind::kLibrary, L"lib/\x4E2D\x6587.jar",
                                     Digest("x"), &error);
  const std::int64_t after = now();
  ASSERT_TRUE(text) << base::WideToUtf8(error);
  auto parsed = ParseUpdateSignature(*text, &error);
  ASSERT_TRUE(parsed);
  EXPECT_GE(parsed->time, before);
  EXPECT_LE(parsed->time, after);
  EXPECT_EQ(VerifyUpdateSignature(key.PublicKey(), SignedFileKind::kLibrary,
                                  L"lib/\x4E2D\x6587.jar", Digest("x"), *parsed),
            SignatureCheck::kValid);
  EXPECT_EQ(text->rfind("quorvane-signature 1\ntime ", 0), 0u) << *text;

  struct Case {
    SignedFileKind kind;
    std::wstring name;
  } cases[] = {
      {SignedFileKind::kPackage, L"0123456789ABCDEF0123456789ABCDEF"},
      {SignedFileKind::kPackage, L"0123456789abcdef0123456789abcde"},
      {SignedFileKind::kPackage, L"lib/x.jar"},
      {SignedFileKind::kPackage, L""},
      {SignedFileKind::kLibrary, L""},
      {SignedFileKind::kLibrary, L"lib/x.jar\nname lib/y.jar"},
      {SignedFileKind::kLibrary, L"lib/x\t.jar"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(base::WideToUtf8(c.name));
    error.clear();
    EXPECT_FALSE(ComposeUpdateSignature(key, c.kind, c.name, Digest("x"), &error, kTime));
    EXPECT_FALSE(error.empty());
    UpdateSignature any{kTime, {}};
    EXPECT_EQ(VerifyUpdateSignature(key.PublicKey(), c.kind, c.name, Digest("x"), any),
              SignatureCheck::kBadSignature);
  }
  EXPECT_FALSE(
      ComposeUpdateSignature(key, SignedFileKind::kLibrary, L"lib/x.jar", Digest("x"), &error, -1));
}

TEST(UpdateSignature, ParserTakesExactlyTheFormat) {
  const platform::P256PrivateKey key = NewKey();
  const std::string good = Compose(key, SignedFileKind::kPackage, kMd5, "p");
  const std::string sig = good.substr(good.find("sig "));  // "sig <base64>\n"
  const std::string b64 = sig.substr(4, sig.size() - 5);
  ASSERT_EQ(b64.size(), 88u);

  // Line ends of either kind; the last one may be missing.
  for (const std::string& text :
       {good, good.substr(0, good.size() - 1),
        "quorvane-signature 1\r\ntime 1717171717\r\n" + sig.substr(0, sig.size() - 1) + "\r\n",
        "quorvane-signature 1\ntime 0\n" + sig}) {
    std::wstring reason;
    EXPECT_TRUE(ParseUpdateSignature(text, &reason)) << text << base::WideToUtf8(reason);
  }

  const std::string head = "quorvane-signature 1\n";
  const std::string time = "time 1717171717\n";
  struct Case {
    const char* name;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"HTML error page", "<html><body>404 Not Found</body></html>\n"},
      {"version 2", "quorvane-signature 2\n" + time + sig},
      {"no version", "quorvane-signature\n" + time + sig},
      {"header in upper case", "QUORVANE-SIGNATURE 1\n" + time + sig},
      {"lines swapped", head + sig + time},
      {"time missing", head + sig},
      {"sig missing", head + time},
      {"blank line at the end", head + time + sig + "\n"},
      {"blank line inside", head + "\n" + time + sig},
      {"extra line", head + time + sig + "note 1\n"},
      {"leading blank line", "\n" + head + time + sig},
      {"trailing space on the header", "quorvane-signature 1 \n" + time + sig},
      {"time with two spaces", head + "time  1717171717\n" + sig},
      {"time negative", head + "time -1717171717\n" + sig},
      {"time with a sign", head + "time +1717171717\n" + sig},
      {"time with a leading zero", head + "time 01717171717\n" + sig},
      {"time in hex", head + "time 0x66595a85\n" + sig},
      {"time empty", head + "time \n" + sig},
      {"time with a fraction", head + "time 1717171717.5\n" + sig},
      {"time of 19 digits", head + "time 1000000000000000000\n" + sig},
      {"time with a trailing space", head + "time 1717171717 \n" + sig},
      {"sig empty", head + time + "sig \n"},
      {"sig of 63 bytes", head + time + "sig " + b64.substr(0, 84) + "\n"},
      {"sig of 65 bytes", head + time + "sig " + b64.substr(0, 86) + "A=\n"},
      {"sig without padding", head + time + "sig " + b64.substr(0, 86) + "\n"},
      {"sig in hex", head + time + "sig " + std::string(128, 'a') + "\n"},
      {"sig with a space inside",
       head + time + "sig " + b64.substr(0, 40) + " " + b64.substr(40) + "\n"},
      {"sig with URL-safe letters", head + time + "sig " + std::string(86, '-') + "==\n"},
      {"sig line named otherwise", head + time + "signature " + b64 + "\n"},
      {"CR alone as line end", "quorvane-signature 1\rtime 1717171717\r" + sig},
      {"NUL inside", head + time + std::string("sig \0", 5) + b64.substr(1) + "\n"},
      {"larger than any signature file", head + time + sig + std::string(300, '#')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::wstring reason;
    EXPECT_FALSE(ParseUpdateSignature(c.text, &reason));
    EXPECT_FALSE(reason.empty());
    SignatureVerdict verdict = CheckUpdateSignatureFile(key.PublicKey(), SignedFileKind::kPackage,
                                                        kMd5, Digest("p"), c.text);
    EXPECT_EQ(verdict.check, SignatureCheck::kMalformed);
    EXPECT_FALSE(verdict.reason.empty());
  }
}

TEST(UpdateSignature, PublicKeyTextRoundTripsAndRejectsAnythingElse) {
  const platform::P256PrivateKey key = NewKey();
  const std::string text = PublicKeyText(key.PublicKey());
  ASSERT_EQ(text.size(), 5u + 128u);
  EXPECT_EQ(text.rfind("p256:", 0), 0u);
  EXPECT_EQ(text.find_first_not_of("0123456789abcdef", 5), std::string::npos) << text;
  std::wstring reason;
  auto parsed = ParsePublicKeyText(text, &reason);
  ASSERT_TRUE(parsed) << base::WideToUtf8(reason);
  EXPECT_EQ(*parsed, key.PublicKey());
  std::string upper = text;
  for (size_t i = 5; i < upper.size(); ++i) upper[i] = static_cast<char>(std::toupper(upper[i]));
  parsed = ParsePublicKeyText(upper, &reason);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(*parsed, key.PublicKey());

  const std::string hex = text.substr(5);
  for (const std::string& bad :
       {std::string(), std::string("p256:"), "p256:" + hex.substr(1), "p256:" + hex + "0",
        "P256:" + hex, "p384:" + hex, hex, " " + text, text + " ", text + "\n",
        "p256:" + hex.substr(0, 127) + "g", "p256: " + hex.substr(1)}) {
    SCOPED_TRACE(bad);
    reason.clear();
    EXPECT_FALSE(ParsePublicKeyText(bad, &reason));
    EXPECT_FALSE(reason.empty());
  }
  EXPECT_EQ(SignatureFileName(L"lib/x.jar"), L"lib/x.jar.sig");
}
