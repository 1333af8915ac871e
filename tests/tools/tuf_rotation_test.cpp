// What the publish tool signs, taken by the launcher's own update run over the suite's
// HTTP server: after a key rotation a launcher built with the old root installs releases of
// the new keys and refuses those of the old; after a leaked timestamp key made it trust a
// far-future version, rotating that key lets updates flow again. The vendor publishes
// into a folder of its own and uploads it, as to a real web server.
#include <gtest/gtest.h>

#include <filesystem>

#include <nlohmann/json.hpp>

#include "base/text.h"
#include "branding.h"
#include "platform/http.h"
#include "platform/platform.h"
#include "publisher.h"
#include "support/http_server.h"
#include "support/test_support.h"
#include "tuf_keys.h"
#include "tuf_metadata.h"
#include "update/tuf/installation.h"
#include "update/tuf/metadata.h"
#include "update/zip_bytes.h"

namespace fs = std::filesystem;
using publish::Role;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

constexpr std::int64_t kT0 = 1800000000;

std::string Package(const std::string& tag) {
  std::string bytes = zip_bytes::Zip({{"zobj/Run.class", "release " + tag}});
  for (char& c : bytes) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ branding::kJarKey);
  return bytes;
}

using tuf_testing::Installation;

// Which release the installed jar is ("" for none, "?" for bytes of no release).
std::string Installed(const Installation& launcher) {
  const std::string jar = launcher.Jar();
  if (jar.empty()) return "";
  for (const char* tag : {"v1", "v2", "v3", "v4"})
    if (jar == Package(tag)) return tag;
  return "?";
}

bool AnyStarts(const std::vector<std::string>& lines, const std::string& prefix) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += "\n  " + l;
  return text;
}

// The vendor: key folders, a jar and a library, a local server folder uploaded to the
// suite's server under a folder of this test.
struct Vendor {
  TempDir dir;
  fs::path jar = dir / "main.jar";
  fs::path libs = dir / "libs";
  fs::path www = dir / "www";
  std::string prefix = testing_support::UniqueServerFolder();

  Vendor() {
    fs::create_directories(libs);
    WriteBytes(libs / "a.jar", zip_bytes::Zip({{"zlib/A.class", "library a"}}));
    platform::InitHttp();
  }

  fs::path NewKeys(const std::string& name, std::vector<Role> roles = {}) const {
    auto made = publish::CreateKeys((dir / name).wstring(), roles, {}, 365, kT0);
    EXPECT_TRUE(made) << (made ? "" : base::WideToUtf8(made.failure().reason));
    return dir / name;
  }

  publish::SigningRequest Signing(const std::vector<fs::path>& folders, std::int64_t now) const {
    publish::SigningRequest signing;
    for (const fs::path& f : folders) signing.keyFolders.push_back(f.wstring());
    signing.now = now;
    return signing;
  }

  void Release(const std::string& tag, const std::vector<fs::path>& keys, std::int64_t now,
               const fs::path& into = {}) const {
    WriteBytes(jar, zip_bytes::Zip({{"zobj/Run.class", "release " + tag}}));
    publish::PublishRequest r;
    r.jarPath = jar.wstring();
    r.libsFolder = libs.wstring();
    r.serverRoot = (into.empty() ? www : into).wstring();
    r.signing = Signing(keys, now);
    publish::PublishReport report;
    base::Status status = publish::Publish(r, &report);
    ASSERT_TRUE(status) << base::WideToUtf8(status.failure().reason);
  }

  void Rotate(const fs::path& next, const std::vector<fs::path>& keys, std::int64_t now) const {
    publish::PublishReport report;
    base::Status status = publish::RotateKeys(www.wstring(), L"app", next.wstring(), {}, Signing(keys, now), &report);
    ASSERT_TRUE(status) << base::WideToUtf8(status.failure().reason);
  }

  // Every file of a server folder onto the suite's server (what rsync to the web server does).
  void Upload(const fs::path& from) const {
    for (const auto& e : fs::recursive_directory_iterator(from))
      if (e.is_regular_file())
        testing_support::TestHttpServer::Get().Put(prefix + fs::relative(e.path(), from).generic_string(),
                                                   ReadBytes(e.path()));
  }
  void Upload() const { Upload(www); }
  std::wstring ConfigUrl() const { return testing_support::TestHttpServer::Get().Url(prefix + "app/main.jar"); }

  // Launchers built with a root read the signed channel only, never update.txt, libs.txt
  // or the runtime-library server.
  void ExpectOnlySignedRequests() const {
    const auto& server = testing_support::TestHttpServer::Get();
    for (const std::string& path : server.Requests(prefix))
      EXPECT_EQ(path.rfind(prefix + "app/tuf/", 0), 0u) << path;
    EXPECT_TRUE(server.Requests(tuf_testing::kNoRuntimeLibraries).empty());
  }
};

}  // namespace

TEST(SignedRotation, TheOldRootFollowsToTheNewKeysAndRefusesTheOldOnes) {
  Vendor vendor;
  const fs::path keys = vendor.NewKeys("keys");
  Installation launcher(ReadBytes(keys / "root.json"));

  vendor.Release("v1", {keys}, kT0);
  vendor.Upload();
  auto log = launcher.Run(vendor.ConfigUrl(), kT0 + 60);
  ASSERT_FALSE(launcher.state->Failure()) << Joined(log);
  EXPECT_EQ(Installed(launcher), "v1");
  EXPECT_TRUE(fs::exists(launcher.workDir / "lib" / "a.jar"));

  // Someone keeps a copy of the repository as it is, and the old keys.
  const fs::path stale = vendor.dir / "stale";
  fs::copy(vendor.www, stale, fs::copy_options::recursive);

  const fs::path next = vendor.NewKeys("next");
  vendor.Rotate(next, {keys}, kT0 + 120);
  vendor.Release("v2", {next}, kT0 + 180);
  vendor.Upload();
  log = launcher.Run(vendor.ConfigUrl(), kT0 + 240);
  ASSERT_FALSE(launcher.state->Failure()) << Joined(log);
  EXPECT_EQ(Installed(launcher), "v2") << Joined(log);
  EXPECT_TRUE(fs::exists(launcher.workDir / "tuf" / "2.root.json"));

  // A release signed with the old keys, at versions above the real ones, is refused; the
  // installed release still starts.
  for (std::int64_t at : {kT0 + 300, kT0 + 301, kT0 + 302}) vendor.Release("v3", {keys}, at, stale);
  vendor.Upload(stale);
  log = launcher.Run(vendor.ConfigUrl(), kT0 + 360);
  EXPECT_FALSE(launcher.state->Failure()) << Joined(log);
  EXPECT_TRUE(launcher.state->Plan());
  EXPECT_EQ(Installed(launcher), "v2");
  EXPECT_TRUE(AnyStarts(log, "update metadata refused: ")) << Joined(log);

  // The genuine files again, and the next release of the new keys goes in.
  vendor.Release("v4", {next}, kT0 + 420);
  vendor.Upload();
  log = launcher.Run(vendor.ConfigUrl(), kT0 + 480);
  ASSERT_FALSE(launcher.state->Failure()) << Joined(log);
  EXPECT_EQ(Installed(launcher), "v4") << Joined(log);
  vendor.ExpectOnlySignedRequests();
}

TEST(SignedRotation, RotatingALeakedTimestampKeyEndsItsFarFutureVersion) {
  Vendor vendor;
  const fs::path keys = vendor.NewKeys("keys");
  Installation launcher(ReadBytes(keys / "root.json"));
  vendor.Release("v1", {keys}, kT0);
  vendor.Upload();
  auto log = launcher.Run(vendor.ConfigUrl(), kT0 + 60);
  ASSERT_EQ(Installed(launcher), "v1") << Joined(log);

  // Whoever holds the timestamp key signs version 999999999, and the launcher takes it.
  auto ring = publish::LoadKeyFolders({keys.wstring()});
  ASSERT_TRUE(ring);
  const publish::SigningKey* timestampKey = nullptr;
  for (const publish::SigningKey& k : ring->keys)
    if (k.role == Role::kTimestamp) timestampKey = &k;
  ASSERT_NE(timestampKey, nullptr);
  auto forged = nlohmann::json::parse(ReadBytes(vendor.www / "app" / "tuf" / "timestamp.json"));
  forged["signed"]["version"] = 999999999;
  auto signedForgery = publish::SignMetadata(forged["signed"], {timestampKey});
  ASSERT_TRUE(signedForgery);
  testing_support::TestHttpServer::Get().Put(vendor.prefix + "app/tuf/timestamp.json",
                                             publish::MetadataFileBytes(*signedForgery));
  log = launcher.Run(vendor.ConfigUrl(), kT0 + 120);
  ASSERT_FALSE(launcher.state->Failure()) << Joined(log);

  // Every release of the vendor is now a rollback to it.
  vendor.Release("v2", {keys}, kT0 + 180);
  vendor.Upload();
  log = launcher.Run(vendor.ConfigUrl(), kT0 + 240);
  EXPECT_FALSE(launcher.state->Failure()) << Joined(log);
  EXPECT_EQ(Installed(launcher), "v1");
  EXPECT_TRUE(AnyStarts(log, "update metadata refused: ")) << Joined(log);

  // A new timestamp key: the launcher drops the forged timestamp and takes v2.
  const fs::path fresh = vendor.NewKeys("fresh", {Role::kTimestamp});
  vendor.Rotate(fresh, {keys}, kT0 + 300);
  vendor.Upload();
  log = launcher.Run(vendor.ConfigUrl(), kT0 + 360);
  ASSERT_FALSE(launcher.state->Failure()) << Joined(log);
  EXPECT_EQ(Installed(launcher), "v2") << Joined(log);
  vendor.Release("v3", {keys, fresh}, kT0 + 420);
  vendor.Upload();
  log = launcher.Run(vendor.ConfigUrl(), kT0 + 480);
  EXPECT_EQ(Installed(launcher), "v3") << Joined(log);
  vendor.ExpectOnlySignedRequests();
}
