// The publish tool's output read back by the launcher's own code: the configuration
// reader, the MD5, the library list and the jar unscrambling.
#include "publisher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "base/text.h"
#include "branding.h"
#include "javahost/temp_jar.h"
#include "platform/platform.h"
#include "support/test_support.h"
#include "update/block_index.h"
#include "update/config_file.h"
#include "update/md5_checksum.h"
#include "update/runtime_libs.h"
#include "update/zip_bytes.h"

namespace fs = std::filesystem;
using publish::BuiltServerUrl;
using publish::PublishRequest;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

// Enough of a jar for the publisher: the zip signature and the entry's name.
std::string FakeJar(const std::string& tag) {
  return std::string("PK\x03\x04", 4) + "zobj/Run.class" + std::string(1, '\0') + "\xff\x80" + tag;
}

struct Fixture {
  TempDir dir;
  fs::path jar = dir / "main.jar";
  fs::path libs = dir / "libs";
  fs::path root = dir / "www";

  Fixture() {
    WriteBytes(jar, FakeJar("v1"));
    fs::create_directories(libs);
    WriteBytes(libs / "b-2.0.jar", "library b");
    WriteBytes(libs / "a_1.jar", "library a");
    fs::create_directories(libs / "ignored-folder");
  }

  PublishRequest Request() const {
    PublishRequest r;
    r.jarPath = jar.wstring();
    r.libsFolder = libs.wstring();
    r.serverRoot = root.wstring();
    return r;
  }
};

// One run of the publisher: how it ended and what it did.
struct Outcome {
  base::Status status;
  publish::PublishReport report;
  bool ok() const { return status.ok(); }
  std::string error() const { return status.ok() ? "" : base::WideToUtf8(status.failure().reason); }
};

Outcome Publish(const PublishRequest& request) {
  Outcome outcome;
  outcome.status = publish::Publish(request, &outcome.report);
  return outcome;
}

std::string Xor(std::string bytes) {
  for (char& c : bytes) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ branding::kJarKey);
  return bytes;
}

}  // namespace

TEST(Publish, WritesWhatTheLauncherReads) {
  Fixture f;
  Outcome result = Publish(f.Request());
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_TRUE(result.report.warnings.empty());

  const std::string md5 = base::WideToUtf8(result.report.md5);
  const std::string pak = ReadBytes(f.root / "app" / (md5 + ".pak"));
  EXPECT_EQ(pak, Xor(FakeJar("v1")));
  EXPECT_EQ(ReadBytes(f.root / "app" / "update.txt"), md5);
  EXPECT_EQ(CMD5Checksum::GetMD5(pak.data(), pak.size()), result.report.md5);

  // The launcher stores the package as the jar and unscrambles it back to the plain jar.
  {
    testing_support::ScopedCurrentDir cd(f.dir.Path());
    WriteBytes(f.dir / "stored.jar", pak);
    std::vector<std::uint8_t> plain;
    ASSERT_TRUE(ReadJarFile(L"stored.jar", &plain));
    EXPECT_EQ(std::string(plain.begin(), plain.end()), FakeJar("v1"));
  }

  // libs.txt in name order, every entry safe; the libraries unchanged below install/runtime.
  const std::string libsTxt = ReadBytes(f.root / "app" / "libs.txt");
  EXPECT_EQ(libsTxt, "lib/a_1.jar;lib/b-2.0.jar");
  LibList list = ParseLibList(base::Utf8ToWide(libsTxt));
  EXPECT_EQ(list.accepted, (std::vector<std::wstring>{L"lib/a_1.jar", L"lib/b-2.0.jar"}));
  EXPECT_TRUE(list.rejected.empty());
  EXPECT_EQ(ReadBytes(f.root / "install" / "runtime" / "lib" / "a_1.jar"), "library a");
  EXPECT_EQ(ReadBytes(f.root / "install" / "runtime" / "lib" / "b-2.0.jar"), "library b");
  EXPECT_FALSE(fs::exists(f.root / "install" / "runtime" / "lib" / "ignored-folder"));

  // The Config.ini line names the same folder on the server the build fetches libraries from.
  EXPECT_EQ(result.report.configLine, BuiltServerUrl() + L"app/main.jar");
  EXPECT_EQ(BuiltServerUrl() + L"install/runtime/", std::wstring(branding::kRuntimeBaseUrl));
  WriteBytes(f.dir / "Config.ini", base::WideToUtf8(result.report.configLine) + "\r\n");
  std::variant<std::wstring, UpdateFailure> line = ReadConfigLine((f.dir / "Config.ini").wstring());
  ASSERT_TRUE(std::holds_alternative<std::wstring>(line));
  ServerLocations where = LocationsFromConfigLine(std::get<std::wstring>(line));
  EXPECT_EQ(where.jarName, L"main.jar");
  EXPECT_EQ(where.versionUrl, BuiltServerUrl() + L"app/update.txt");
  EXPECT_EQ(where.libsUrl, BuiltServerUrl() + L"app/libs.txt");
}

TEST(Publish, SameJarTwiceChangesNothing) {
  Fixture f;
  ASSERT_TRUE(Publish(f.Request()).ok());
  std::vector<std::pair<fs::path, fs::file_time_type>> before;
  for (const auto& e : fs::recursive_directory_iterator(f.root))
    if (e.is_regular_file()) before.emplace_back(e.path(), e.last_write_time());

  Outcome again = Publish(f.Request());
  ASSERT_TRUE(again.ok());
  EXPECT_TRUE(again.report.written.empty());
  EXPECT_EQ(again.report.unchanged.size(), before.size());
  size_t count = 0;
  for (const auto& e : fs::recursive_directory_iterator(f.root)) {
    if (!e.is_regular_file()) continue;
    ++count;
    auto it = std::find_if(before.begin(), before.end(), [&](auto& b) { return b.first == e.path(); });
    ASSERT_NE(it, before.end()) << e.path();
    EXPECT_EQ(it->second, e.last_write_time()) << e.path();
  }
  EXPECT_EQ(count, before.size());  // no temporary files left behind
}

TEST(Publish, NewVersionReplacesUpdateTxtAndKeepsTheOldPackage) {
  Fixture f;
  Outcome first = Publish(f.Request());
  ASSERT_TRUE(first.ok());
  WriteBytes(f.jar, FakeJar("v2"));
  Outcome second = Publish(f.Request());
  ASSERT_TRUE(second.ok());
  EXPECT_NE(first.report.md5, second.report.md5);
  EXPECT_EQ(ReadBytes(f.root / "app" / "update.txt"), base::WideToUtf8(second.report.md5));
  // A user who read the old update.txt a moment ago still finds its package.
  EXPECT_TRUE(fs::exists(f.root / "app" / (base::WideToUtf8(first.report.md5) + ".pak")));
  // Only the package and update.txt changed.
  EXPECT_EQ(second.report.written, (std::vector<std::wstring>{L"app/" + second.report.md5 + L".pak", L"app/update.txt"}));
}

TEST(Publish, OptionsShapeTheLayoutAndTheConfigLine) {
  Fixture f;
  PublishRequest r = f.Request();
  r.libsFolder.clear();
  r.folder = L"/games/chess/";
  r.serverUrl = L"https://updates.example.com/base";
  r.jarName = L"chess.jar";
  Outcome result = Publish(r);
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_EQ(result.report.configLine, L"https://updates.example.com/base/games/chess/chess.jar");
  EXPECT_EQ(ReadBytes(f.root / "games" / "chess" / "libs.txt"), "");
  EXPECT_EQ(ReadBytes(f.root / "games" / "chess" / "update.txt"), base::WideToUtf8(result.report.md5));
  // Libraries come from the build's server, not this one: the vendor is told.
  ASSERT_EQ(result.report.warnings.size(), 1u);
  EXPECT_NE(result.report.warnings[0].find(branding::kRuntimeBaseUrl), std::wstring::npos);
}

TEST(Publish, RefusesInputThatWouldReachUsersBroken) {
  struct Case {
    const char* name;
    std::function<void(Fixture&, PublishRequest&)> change;
  } cases[] = {
      {"missing jar", [](Fixture& f, PublishRequest&) { fs::remove(f.jar); }},
      {"empty jar", [](Fixture& f, PublishRequest&) { WriteBytes(f.jar, ""); }},
      {"already scrambled", [](Fixture& f, PublishRequest&) { WriteBytes(f.jar, Xor(FakeJar("v1"))); }},
      {"library name with a space",
       [](Fixture& f, PublishRequest&) { WriteBytes(f.libs / "my lib.jar", "x"); }},
      {"library name with ';'", [](Fixture& f, PublishRequest&) { WriteBytes(f.libs / "a;b.jar", "x"); }},
      {"missing libs folder", [](Fixture& f, PublishRequest&) { fs::remove_all(f.libs); }},
      {"folder climbing out", [](Fixture&, PublishRequest& r) { r.folder = L"app/../.."; }},
      {"folder with a space", [](Fixture&, PublishRequest& r) { r.folder = L"my app"; }},
      {"jar name with a slash", [](Fixture&, PublishRequest& r) { r.jarName = L"a/b.jar"; }},
      {"server URL of another scheme", [](Fixture&, PublishRequest& r) { r.serverUrl = L"ftp://x/"; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    PublishRequest r = f.Request();
    c.change(f, r);
    Outcome result = Publish(r);
    EXPECT_FALSE(result.ok());
    EXPECT_FALSE(result.error().empty());
    EXPECT_TRUE(result.report.configLine.empty());
    EXPECT_FALSE(fs::exists(f.root / "app" / "update.txt"));
  }
}

TEST(Publish, WarnsAboutAJarWithoutTheEntryClass) {
  Fixture f;
  WriteBytes(f.jar, std::string("PK\x03\x04", 4) + "other/Main.class");
  Outcome result = Publish(f.Request());
  ASSERT_TRUE(result.ok());
  ASSERT_EQ(result.report.warnings.size(), 1u);
  EXPECT_NE(result.report.warnings[0].find(L"cod=4"), std::wstring::npos);
}

// A jar that is a whole zip archive gets its block index beside the package, written after
// it and before update.txt, describing exactly the package as served.
TEST(Publish, WritesTheBlockIndexOfAWholeJar) {
  Fixture f;
  const std::string jar = zip_bytes::Zip({{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\n\r\n"},
                                          {"zobj/Run.class", testing_support::BinaryBody(3000, 4)},
                                          {"zobj/Other.class", testing_support::BinaryBody(2000, 5)}});
  WriteBytes(f.jar, jar);
  Outcome result = Publish(f.Request());
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_TRUE(result.report.warnings.empty());
  const std::wstring pak = L"app/" + result.report.md5 + L".pak";
  auto at = [&](const std::wstring& name) {
    return std::find(result.report.written.begin(), result.report.written.end(), name) - result.report.written.begin();
  };
  ASSERT_LT(static_cast<size_t>(at(pak + L".idx")), result.report.written.size());
  EXPECT_LT(at(pak), at(pak + L".idx"));
  EXPECT_LT(at(pak + L".idx"), at(L"app/update.txt"));

  const std::string bytes = ReadBytes(f.root / "app" / (base::WideToUtf8(result.report.md5) + ".pak.idx"));
  base::Result<block_index::Index> index =
      block_index::Decode(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  ASSERT_TRUE(index.ok()) << base::WideToUtf8(index.failure().reason);
  const std::string served = Xor(jar);
  EXPECT_EQ(index->packageLength, served.size());
  EXPECT_EQ(index->md5, base::WideToUtf8(result.report.md5));
  EXPECT_EQ(index->sha256, platform::Sha256::Of(served.data(), served.size()));
  // Three entries, their three central headers and the end record.
  EXPECT_EQ(index->pieces.size(), 7u);

  // The same jar again: the index too is left as it was.
  Outcome again = Publish(f.Request());
  ASSERT_TRUE(again.ok());
  EXPECT_TRUE(again.report.written.empty());
}
