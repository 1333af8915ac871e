// The signature checks of downloaded packages and libraries and the installed package's
// signing time, against the suite's own server, with keys made by the system's
// cryptography (CNG under Wine, libcrypto on Linux) and signature files made as the
// publish tool makes them.
#include "update/signed_update.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "http_case.h"
#include "test_keys.h"
#include "update/md5_checksum.h"
#include "update/update_signature.h"
#include "update/update_worker.h"

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::WriteBytes;
using Lines = std::vector<std::string>;

namespace {

constexpr std::int64_t kEarlier = 1700000000;
constexpr std::int64_t kLater = 1700000100;
constexpr std::int64_t kLatest = 1700000200;

const platform::P256PrivateKey& VendorKey() { return test_keys::Vendor(); }
const platform::P256PrivateKey& OtherKey() { return test_keys::Other(); }

platform::Sha256Digest Sha(const std::string& bytes) {
  return platform::Sha256::Of(bytes.data(), bytes.size());
}

std::wstring Md5(const std::string& bytes) { return CMD5Checksum::GetMD5(bytes.data(), bytes.size()); }

std::string Sign(SignedFileKind kind, const std::wstring& name, const std::string& bytes,
                 std::int64_t time, const platform::P256PrivateKey& key = VendorKey()) {
  std::wstring error;
  auto text = ComposeUpdateSignature(key, kind, name, Sha(bytes), &error, time);
  EXPECT_TRUE(text) << platform::WideToUtf8(error);
  return text.value_or("");
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

class Signing : public HttpCase {
 protected:
  Signing() : signing{VendorKey().PublicKey()} {}

  // A package as the server publishes it: its bytes and its name.
  struct Package {
    std::string bytes;
    std::wstring md5;
  };
  static Package MakePackage(unsigned seed) {
    Package p{testing_support::BinaryBody(5000, seed), {}};
    p.md5 = Md5(p.bytes);
    return p;
  }

  // Server paths below the test's folder, and the URLs the launcher fetches.
  static std::string PakPath(const std::string& base, const Package& p) {
    return base + "app/" + Narrow(p.md5) + ".pak";
  }
  static std::string LibPath(const std::string& base, const std::string& entry) {
    return base + "install/runtime/" + entry;
  }

  void PutSignature(const std::string& signedFile, const std::string& text) {
    server.Put(folder + signedFile + ".sig", text);
  }

  PackageVerdict Check(const Package& p, const std::string& base = "") {
    return CheckPackage(signing, work.WPath(), Url(PakPath(base, p)), p.md5, Sha(p.bytes));
  }
  bool CheckLib(const std::string& entry, const std::string& bytes, const std::string& base = "") {
    return CheckLibrary(signing, Url(LibPath(base, entry)), platform::Utf8ToWide(entry), Sha(bytes));
  }

  // What package.signed holds; "(none)" when there is no such file.
  std::string Record() const {
    fs::path path = work / "package.signed";
    return fs::exists(path) ? ReadBytes(path) : "(none)";
  }
  // A verdict as CheckPackage gives it for a package signed at that time.
  static PackageVerdict SignedAt(std::int64_t time) { return PackageVerdict{true, time}; }

  std::string LastLogLine() const {
    Lines lines = LogLines();
    return lines.empty() ? "" : lines.back();
  }

  SignaturePolicy signing;
};

TEST_F(Signing, UnsignedModeFetchesNothingAndSaysSoOnce) {
  const SignaturePolicy unsigned_;
  const Package p = MakePackage(1);
  LogSigningMode(signing);  // a signed launcher has nothing to say about it
  EXPECT_EQ(LogLines(), Lines{});
  LogSigningMode(unsigned_);

  PackageVerdict verdict = CheckPackage(unsigned_, work.WPath(), Url(PakPath("", p)), p.md5, Sha(p.bytes));
  EXPECT_TRUE(verdict.accepted);
  EXPECT_FALSE(verdict.signedAt);
  RememberInstalledPackage(work.WPath(), verdict);
  EXPECT_TRUE(CheckLibrary(unsigned_, Url(LibPath("", "lib/x.jar")), L"lib/x.jar", Sha("library")));

  EXPECT_EQ(Requests(), Lines{});
  EXPECT_EQ(LogLines(), Lines{"updates are not signed"});
  EXPECT_EQ(Record(), "(none)");
}

TEST_F(Signing, AGenuinePackageIsAcceptedAndItsSigningTimeKept) {
  const Package p = MakePackage(1);
  const std::string signature = Sign(SignedFileKind::kPackage, p.md5, p.bytes, kLater);
  PutSignature(PakPath("", p), signature);

  PackageVerdict verdict = Check(p);

  EXPECT_TRUE(verdict.accepted);
  EXPECT_EQ(verdict.signedAt, kLater);
  // Exactly the signature beside the package; the package itself is the caller's download.
  EXPECT_EQ(Requests(), Lines{folder + PakPath("", p) + ".sig"});
  EXPECT_EQ(LogLines(), (Lines{"start get url: " + Narrow(Url(PakPath("", p) + ".sig")),
                               "http complete, len = " + std::to_string(signature.size()),
                               "package signature valid, signed at 1700000100"}));
  EXPECT_EQ(Record(), "(none)");  // not before the package is installed

  RememberInstalledPackage(work.WPath(), verdict);
  EXPECT_EQ(Record(), "1700000100\n");
}

TEST_F(Signing, APackageWithoutItsOwnValidSignatureIsRefused) {
  const Package genuine = MakePackage(1);
  const Package foreign = MakePackage(2);
  const std::string genuineSignature = Sign(SignedFileKind::kPackage, genuine.md5, genuine.bytes, kLater);
  // The foreign package's bytes under the genuine package's name, as if its MD5 collided.
  const Package collision{foreign.bytes, genuine.md5};
  const std::string huge = genuineSignature + std::string(300, '\n');
  const std::string endlessSignature = Sign(SignedFileKind::kPackage, foreign.md5, foreign.bytes, kLater);

  const struct {
    const char* name;
    const Package& checked;
    std::string signature;  // what the server holds beside the package; none when empty
    const char* behaviour;
    size_t requests;
    const char* why;  // the start of the reason in t.log; nullptr: too large
  } cases[] = {
      {"no signature", foreign, "", "", 3, "no signature file at "},
      {"the genuine package's signature beside it", foreign, genuineSignature, "", 1,
       "the signature does not match"},
      {"signed by another key", foreign,
       Sign(SignedFileKind::kPackage, foreign.md5, foreign.bytes, kLater, OtherKey()), "", 1,
       "the signature does not match"},
      {"a library's signature of the same bytes", foreign,
       Sign(SignedFileKind::kLibrary, foreign.md5, foreign.bytes, kLater), "", 1,
       "the signature does not match"},
      {"other bytes under the genuine name", collision, genuineSignature, "", 1,
       "the signature does not match"},
      {"a signature file of another version", foreign,
       "quorvane-signature 2\ntime 1700000100\nsig " + std::string(88, 'A') + "\n", "", 1,
       "unknown signature file version"},
      {"a page instead of a signature", foreign, "<html>not here</html>\n", "", 1,
       "a signature file has 3 lines, not 1"},
      // Larger than a signature file, announced or not: never read past the limit.
      {"a valid signature padded out", genuine, huge, "", 3, nullptr},
      {"without a length", foreign, endlessSignature + std::string(200000, ' '), "close", 3, nullptr},
      {"chunked", foreign, endlessSignature + std::string(200000, ' '), "chunked", 3, nullptr},
      {"a body that never ends", foreign, endlessSignature, "endless", 3, nullptr},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string base = std::string("c") + std::to_string(index++) + "/";
    const std::string sigPath = PakPath(base, c.checked) + ".sig";
    if (!c.signature.empty()) server.Put(folder + sigPath, c.signature);
    if (*c.behaviour) server.Behave(folder + sigPath, c.behaviour);

    PackageVerdict verdict = Check(c.checked, base);

    EXPECT_FALSE(verdict.accepted);
    EXPECT_FALSE(verdict.unreachable);
    EXPECT_FALSE(verdict.signedAt);
    EXPECT_EQ(server.Requests(folder + base), Lines(c.requests, folder + sigPath));
    const std::string why = c.why ? c.why : Narrow(Url(sigPath)) + " is larger than a signature file";
    EXPECT_TRUE(StartsWith(LastLogLine(), "package signature refused: " + why)) << LastLogLine();
    RememberInstalledPackage(work.WPath(), verdict);
    EXPECT_EQ(Record(), "(none)");
    theLog.StartAt((work / "t.log").wstring());
    server.Behave(folder + sigPath, "");
    server.Remove(folder + sigPath);
  }
}

// A signature that cannot be had for the network's sake (a server error or a busy server
// on all three attempts, a connection that breaks off) refuses nothing: the verdict says
// so, and the run keeps the package for the next start. A client error (404, 403) says
// the server has no signature for it, and refuses it.
TEST_F(Signing, ASignatureThatCannotBeFetchedIsNoVerdict) {
  const Package p = MakePackage(3);
  const std::string signature = Sign(SignedFileKind::kPackage, p.md5, p.bytes, kLater);
  const struct {
    const char* behaviour;
    bool unreachable;
  } cases[] = {
      {"status 500", true}, {"status 503", true}, {"status 408", true}, {"status 429", true},
      {"truncate 10", true}, {"status 404", false}, {"status 403", false},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.behaviour);
    const std::string base = "u" + std::to_string(index++) + "/";
    PutSignature(PakPath(base, p), signature);
    server.Behave(folder + PakPath(base, p) + ".sig", c.behaviour);
    theLog.StartAt((work / "t.log").wstring());
    PackageVerdict verdict = Check(p, base);
    EXPECT_FALSE(verdict.accepted);
    EXPECT_EQ(verdict.unreachable, c.unreachable);
    EXPECT_EQ(server.Requests(folder + base).size(), 3u);
    EXPECT_TRUE(StartsWith(LastLogLine(), c.unreachable ? "package signature unavailable, package kept: no signature file at "
                                                        : "package signature refused: no signature file at "))
        << LastLogLine();
  }
}

TEST_F(Signing, AnOlderReleaseIsRefusedOnceANewerOneIsInstalledButARollbackSignedAnewIsNot) {
  const Package old = MakePackage(1);
  const Package current = MakePackage(2);
  PutSignature(PakPath("", old), Sign(SignedFileKind::kPackage, old.md5, old.bytes, kEarlier));
  PutSignature(PakPath("", current), Sign(SignedFileKind::kPackage, current.md5, current.bytes, kLater));

  PackageVerdict installed = Check(current);
  ASSERT_TRUE(installed.accepted);
  RememberInstalledPackage(work.WPath(), installed);

  // A genuine, signed older release served again.
  EXPECT_FALSE(Check(old).accepted);
  EXPECT_EQ(LastLogLine(),
            "package signature refused: signed at 1700000000, before the installed package (1700000100)");
  EXPECT_EQ(Record(), "1700000100\n");

  // The installed release itself, fetched again after its jar was damaged.
  EXPECT_TRUE(Check(current).accepted);

  // The vendor rolls back: the old bytes, published again and so signed now.
  PutSignature(PakPath("", old), Sign(SignedFileKind::kPackage, old.md5, old.bytes, kLatest));
  PackageVerdict rollback = Check(old);
  EXPECT_TRUE(rollback.accepted);
  EXPECT_EQ(rollback.signedAt, kLatest);
  RememberInstalledPackage(work.WPath(), rollback);
  EXPECT_EQ(Record(), "1700000200\n");
  // ...and the release it replaced is now the older one.
  EXPECT_FALSE(Check(current).accepted);
}

TEST_F(Signing, TheFloorComesOnlyFromARecordThatReadsAsATimeAndNeverGoesDown) {
  const Package p = MakePackage(1);
  PutSignature(PakPath("", p), Sign(SignedFileKind::kPackage, p.md5, p.bytes, kEarlier));

  // No record (the first signed install) and records that are no time: no floor.
  const struct {
    const char* name;
    const char* record;  // nullptr: no file
    bool logged;
  } noFloor[] = {
      {"no record", nullptr, false},
      {"empty", "", true},
      {"not a number", "soon\n", true},
      {"a leading zero", "01700000100\n", true},
      {"a sign", "-1700000100\n", true},
      {"a second line", "1700000100\n1\n", true},
      {"too many digits", "1234567890123456789\n", true},
  };
  for (const auto& c : noFloor) {
    SCOPED_TRACE(c.name);
    std::error_code ignored;
    fs::remove(work / "package.signed", ignored);
    if (c.record) WriteBytes(work / "package.signed", c.record);
    theLog.StartAt((work / "t.log").wstring());

    EXPECT_TRUE(Check(p).accepted);
    Lines lines = LogLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "ignored an unreadable package.signed"), c.logged ? 1 : 0);
  }

  // A record without its line feed still counts.
  WriteBytes(work / "package.signed", "1700000100");
  EXPECT_FALSE(Check(p).accepted);

  // A package checked before another launcher of the folder installed a newer one.
  WriteBytes(work / "package.signed", "1700000200\n");
  RememberInstalledPackage(work.WPath(), SignedAt(kLater));
  EXPECT_EQ(Record(), "1700000200\n");
  // A refused verdict never touches the record.
  RememberInstalledPackage(work.WPath(), PackageVerdict{false, kLatest + 1});
  EXPECT_EQ(Record(), "1700000200\n");
  RememberInstalledPackage(work.WPath(), SignedAt(kLatest + 1));
  EXPECT_EQ(Record(), "1700000201\n");
}

TEST_F(Signing, ALibraryIsTakenOnlyWithItsOwnValidSignature) {
  const std::string a = testing_support::BinaryBody(3000, 5);
  const std::string b = testing_support::BinaryBody(3000, 6);
  const std::string signatureOfA = Sign(SignedFileKind::kLibrary, L"lib/a.jar", a, kLater);

  PutSignature(LibPath("", "lib/a.jar"), signatureOfA);
  EXPECT_TRUE(CheckLib("lib/a.jar", a));
  EXPECT_EQ(Requests(), Lines{folder + LibPath("", "lib/a.jar") + ".sig"});
  EXPECT_EQ(LastLogLine(), "library signature valid: lib/a.jar, signed at 1700000100");

  const struct {
    const char* name;
    const std::string& bytes;  // the downloaded lib/b.jar
    std::string signature;     // served as lib/b.jar.sig; none when empty
    const char* behaviour;
    size_t requests;
    const char* why;
  } cases[] = {
      {"a foreign library without a signature", b, "", "", 3, "no signature file at "},
      {"another library's signature", b, signatureOfA, "", 1, "the signature does not match"},
      // The same bytes under another entry: the signature names its library.
      {"another library's signature and bytes", a, signatureOfA, "", 1, "the signature does not match"},
      {"signed as a package", b, Sign(SignedFileKind::kPackage, Md5(b), b, kLater), "", 1,
       "the signature does not match"},
      {"signed by another key", b, Sign(SignedFileKind::kLibrary, L"lib/b.jar", b, kLater, OtherKey()), "", 1,
       "the signature does not match"},
      {"malformed", b, "quorvane-signature 1\ntime 1700000100\n", "", 1, "a signature file has 3 lines, not 2"},
      {"a body that never ends", b, "x", "endless", 3, nullptr},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string base = std::string("c") + std::to_string(index++) + "/";
    const std::string sigPath = LibPath(base, "lib/b.jar") + ".sig";
    if (!c.signature.empty()) server.Put(folder + sigPath, c.signature);
    if (*c.behaviour) server.Behave(folder + sigPath, c.behaviour);
    theLog.StartAt((work / "t.log").wstring());

    EXPECT_FALSE(CheckLib("lib/b.jar", c.bytes, base));

    EXPECT_EQ(server.Requests(folder + base), Lines(c.requests, folder + sigPath));
    const std::string why = c.why ? c.why : Narrow(Url(sigPath)) + " is larger than a signature file";
    EXPECT_TRUE(StartsWith(LastLogLine(), "library signature refused: lib/b.jar: " + why)) << LastLogLine();
  }
}

TEST_F(Signing, TheBuiltInKeyTextMakesThePolicy) {
  EXPECT_FALSE(UpdateKeyFromText(""));
  const platform::P256PublicKey vendor = VendorKey().PublicKey();
  std::string text = PublicKeyText(vendor);
  EXPECT_EQ(UpdateKeyFromText(text), vendor);
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  text.replace(0, 5, "p256:");
  EXPECT_EQ(UpdateKeyFromText(text), vendor);

  // A key text the build should have refused never means "unsigned": it takes nothing.
  const Package p = MakePackage(1);
  PutSignature(PakPath("", p), Sign(SignedFileKind::kPackage, p.md5, p.bytes, kLater));
  for (const char* broken : {"p256:", "p256:xyz", "P256:", "0123"}) {
    SCOPED_TRACE(broken);
    SignaturePolicy policy{UpdateKeyFromText(broken)};
    ASSERT_TRUE(policy.Signed());
    EXPECT_FALSE(CheckPackage(policy, work.WPath(), Url(PakPath("", p)), p.md5, Sha(p.bytes)).accepted);
  }

  // This build's launcher: signed exactly when it was built with a key.
  const std::string builtIn = branding::kUpdatePublicKey;
  std::optional<platform::P256PublicKey> key = UpdateSettings::ForThisProcess().updatePublicKey;
  EXPECT_EQ(key.has_value(), !builtIn.empty());
  if (key) {
    EXPECT_EQ(PublicKeyText(*key), builtIn);
  }
}

}  // namespace
