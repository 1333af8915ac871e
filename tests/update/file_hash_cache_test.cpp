// The stored jar's MD5, kept in "<jar>.state" and trusted only while the jar's stamp proves
// its bytes unchanged.
#include "update/file_hash_cache.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "base/text.h"
#include "platform/atomic_file.h"
#include "platform/platform.h"
#include "launch/stamp_record.h"
#include "support/test_support.h"
#include "update/md5_checksum.h"
#include "update/package.h"

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

std::wstring Md5(const std::string& bytes) { return CMD5Checksum::GetMD5(bytes.data(), bytes.size()); }

platform::FileStamp StampOf(const fs::path& path) {
  platform::FileStamp stamp;
  EXPECT_TRUE(platform::StampOf(path.wstring(), &stamp));
  return stamp;
}

// A record as FileMd5 writes it, with any stamp, time and MD5.
void PlantRecord(const fs::path& jar, const platform::FileStamp& stamp, std::int64_t takenAt, const std::string& md5) {
  launch::StampRecord record("file-md5-state 1");
  record.SetNumber("taken", takenAt);
  record.SetStamp("file", stamp);
  record.Set("md5", md5);
  ASSERT_TRUE(record.Write(FileMd5RecordPath(jar.wstring())));
}

const std::string kPlanted = "0123456789abcdef0123456789abcdef";

}  // namespace

// Which records are trusted. A record that is trusted gives its MD5 without the jar being
// read, which the planted MD5 (no hash of these bytes) shows; every other one is hashed.
TEST(FileMd5, TrustsOnlyARecordWhoseSettledStampIsTheJars) {
  TempDir dir;
  const fs::path jar = dir / "main.jar";
  const std::string bytes = testing_support::BinaryBody(70000, 3);
  WriteBytes(jar, bytes);
  const platform::FileStamp stamp = StampOf(jar);
  const std::int64_t lastChange = std::max(stamp.modified, stamp.changed);
  const std::int64_t settled = lastChange + launch::kStampSettleTicks;

  const struct {
    const char* name;
    std::function<void()> plant;
    std::wstring md5;
  } cases[] = {
      {"settled stamp of the jar", [&] { PlantRecord(jar, stamp, settled, kPlanted); }, base::Utf8ToWide(kPlanted)},
      {"taken too soon after the last change", [&] { PlantRecord(jar, stamp, settled - 1, kPlanted); }, Md5(bytes)},
      {"another size", [&] { auto s = stamp; s.size += 1; PlantRecord(jar, s, settled, kPlanted); }, Md5(bytes)},
      {"another modification time", [&] { auto s = stamp; s.modified -= 10; PlantRecord(jar, s, settled, kPlanted); }, Md5(bytes)},
      {"another change time", [&] { auto s = stamp; s.changed -= 10; PlantRecord(jar, s, settled, kPlanted); }, Md5(bytes)},
      {"another file", [&] { auto s = stamp; s.fileId += 1; PlantRecord(jar, s, settled, kPlanted); }, Md5(bytes)},
      {"another volume", [&] { auto s = stamp; s.volume += 1; PlantRecord(jar, s, settled, kPlanted); }, Md5(bytes)},
      {"no MD5 in it", [&] { PlantRecord(jar, stamp, settled, "not an md5"); }, Md5(bytes)},
      {"cut short", [&] {
         PlantRecord(jar, stamp, settled, kPlanted);
         std::string text = ReadBytes(FileMd5RecordPath(jar.wstring()));
         WriteBytes(FileMd5RecordPath(jar.wstring()), text.substr(0, text.size() - 4));
       }, Md5(bytes)},
      {"another kind of record", [&] {
         launch::StampRecord record("temp-jar-state 1");
         record.SetNumber("taken", settled);
         record.SetStamp("file", stamp);
         record.Set("md5", kPlanted);
         record.Write(FileMd5RecordPath(jar.wstring()));
       }, Md5(bytes)},
      {"no record", [&] { fs::remove(FileMd5RecordPath(jar.wstring())); }, Md5(bytes)},
  };
  for (const auto& c : cases) {
    c.plant();
    EXPECT_EQ(FileMd5(jar.wstring()), c.md5) << c.name;
    EXPECT_EQ(StampOf(jar), stamp) << c.name << ": the jar itself was touched";
  }
}

// The way it is used: a jar hashed once is not hashed again while it stays, and a jar
// rewritten in place with as many other bytes is hashed again, also long after.
TEST(FileMd5, SameSizeRewriteIsAlwaysNoticed) {
  TempDir dir;
  const fs::path jar = dir / "main.jar";
  const std::string first = testing_support::BinaryBody(50000, 4);
  const std::string second = testing_support::BinaryBody(50000, 5);
  WriteBytes(jar, first);
  EXPECT_EQ(LocalJarMd5(jar.wstring()), Md5(first));
  EXPECT_TRUE(fs::exists(FileMd5RecordPath(jar.wstring())));

  std::this_thread::sleep_for(std::chrono::milliseconds(
      launch::kStampSettleTicks / (platform::kStampTicksPerSecond / 1000) + 200));
  // Now settled: this hash renews the record, which then proves the jar...
  EXPECT_EQ(LocalJarMd5(jar.wstring()), Md5(first));
  EXPECT_EQ(LocalJarMd5(jar.wstring()), Md5(first));
  // ...until its bytes change, though its size does not.
  WriteBytes(jar, second);
  EXPECT_EQ(LocalJarMd5(jar.wstring()), Md5(second));
  EXPECT_EQ(LocalJarMd5(jar.wstring()), Md5(second));

  fs::remove(jar);
  EXPECT_EQ(LocalJarMd5(jar.wstring()), L"");
}

// What the update run records for a jar it has just installed stands for that jar only.
TEST(FileMd5, RememberedMd5BelongsToTheFileAsItIsNow) {
  TempDir dir;
  const fs::path jar = dir / "main.jar";
  const std::string old = testing_support::BinaryBody(1000, 6);
  WriteBytes(jar, old);
  const platform::FileStamp stamp = StampOf(jar);
  // A record of the old jar that would be trusted...
  PlantRecord(jar, stamp, std::max(stamp.modified, stamp.changed) + launch::kStampSettleTicks, kPlanted);
  EXPECT_EQ(FileMd5(jar.wstring()), base::Utf8ToWide(kPlanted));

  // ...is replaced by the installed jar's; having just been written, the jar is hashed
  // once more before its record is trusted.
  const std::string installed = testing_support::BinaryBody(2000, 7);
  ASSERT_TRUE(platform::WriteFileAtomically(jar.wstring(), installed.data(), installed.size()));
  RememberFileMd5(jar.wstring(), Md5(installed));
  launch::StampRecord record("file-md5-state 1");
  ASSERT_TRUE(record.Read(FileMd5RecordPath(jar.wstring())));
  EXPECT_EQ(record.GetStamp("file"), StampOf(jar));
  EXPECT_EQ(record.Get("md5"), base::WideToUtf8(Md5(installed)));
  EXPECT_EQ(FileMd5(jar.wstring()), Md5(installed));

  // Nothing to remember of a file that is not there, or of no MD5: no record stays.
  RememberFileMd5(jar.wstring(), L"not an md5");
  EXPECT_FALSE(fs::exists(FileMd5RecordPath(jar.wstring())));
  RememberFileMd5((dir / "missing.jar").wstring(), Md5(installed));
  EXPECT_FALSE(fs::exists(FileMd5RecordPath((dir / "missing.jar").wstring())));
}
