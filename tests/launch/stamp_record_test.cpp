// What the launcher remembers of files between runs: the record file, and when its stamps
// vouch for the bytes.
#include "launch/stamp_record.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

TEST(StampRecord, KeepsItsValuesAndOnlyWholeRecordsOfItsKind) {
  TempDir dir;
  const std::wstring path = (dir / "main.jar.state").wstring();
  platform::FileStamp stamp;
  stamp.size = 268435456;
  stamp.modified = 133500000000000000;
  stamp.changed = -5;
  stamp.volume = 0xFFFFFFFFFFFFFFFFull;  // every bit of the unsigned fields
  stamp.fileId = 0x8000000000000001ull;
  launch::StampRecord written("test-state 1");
  written.SetNumber("taken", 133500000020000000);
  written.SetStamp("file", stamp);
  written.Set("md5", "0123456789abcdef0123456789abcdef");
  written.Set("md5", "fedcba9876543210fedcba9876543210");  // a value set again replaces it
  ASSERT_TRUE(written.Write(path));

  launch::StampRecord read("test-state 1");
  ASSERT_TRUE(read.Read(path));
  EXPECT_EQ(read.GetStamp("file"), stamp);
  EXPECT_EQ(read.GetNumber("taken"), 133500000020000000);
  EXPECT_EQ(read.Get("md5"), "fedcba9876543210fedcba9876543210");
  EXPECT_EQ(read.Get("missing"), std::nullopt);
  EXPECT_EQ(read.GetStamp("md5"), std::nullopt);
  EXPECT_EQ(read.GetNumber("md5"), std::nullopt);

  launch::StampRecord other("other-state 1");
  EXPECT_FALSE(other.Read(path));
  const std::string whole = ReadBytes(path);
  for (std::size_t cut : {whole.size() - 1, whole.size() - 4, whole.size() / 2, std::size_t{0}}) {
    WriteBytes(path, whole.substr(0, cut));
    launch::StampRecord torn("test-state 1");
    EXPECT_FALSE(torn.Read(path)) << cut;
    EXPECT_EQ(torn.Get("md5"), std::nullopt) << cut;
  }
  WriteBytes(path, whole + "more 1\n");
  EXPECT_FALSE(read.Read(path)) << "lines after the end";
  EXPECT_FALSE(read.Read((dir / "missing.state").wstring()));
  launch::StampRecord badValue("test-state 1");
  badValue.Set("line", "two\nlines");
  EXPECT_FALSE(badValue.Write(path));
}

TEST(StampRecord, StampSettlesOnlyWellAfterItsLastChange) {
  platform::FileStamp stamp;
  stamp.modified = 1000 * platform::kStampTicksPerSecond;
  stamp.changed = stamp.modified - 5;
  const std::int64_t settled = stamp.modified + launch::kStampSettleTicks;
  EXPECT_TRUE(launch::StampIsSettled(stamp, settled));
  EXPECT_FALSE(launch::StampIsSettled(stamp, settled - 1));
  stamp.changed = stamp.modified + 1;  // the later of the two counts
  EXPECT_FALSE(launch::StampIsSettled(stamp, settled));
  EXPECT_GE(launch::kStampSettleTicks, 2 * platform::kStampTicksPerSecond) << "FAT's two-second steps";
}

TEST(StampRecord, VouchesOnlyForTheRecordedStampsOnceSettled) {
  TempDir dir;
  const std::wstring path = (dir / "x.state").wstring();
  platform::FileStamp a, b;
  a.size = 10;
  a.modified = a.changed = 1000 * platform::kStampTicksPerSecond;
  b = a;
  b.fileId = 7;
  const std::int64_t settledAt = a.modified + launch::kStampSettleTicks;
  launch::StampRecord kept("test-state 1");
  kept.Set("md5", "0123456789abcdef0123456789abcdef");
  launch::WriteRecord(path, kept, settledAt, {{"one", a}, {"two", b}});

  platform::FileStamp moved = b;
  moved.modified += 1;
  struct Case {
    const char* what;
    std::vector<launch::StampedFile> now;
    launch::RecordVouches expected;
  } cases[] = {
      {"both as recorded", {{"one", a}, {"two", b}}, launch::RecordVouches::kSettled},
      {"one changed", {{"one", a}, {"two", moved}}, launch::RecordVouches::kNothing},
      {"swapped names", {{"one", b}, {"two", a}}, launch::RecordVouches::kNothing},
      {"a name the record lacks", {{"three", a}}, launch::RecordVouches::kNothing},
  };
  for (const Case& c : cases) {
    launch::StampRecord read("test-state 1");
    EXPECT_EQ(launch::CheckRecord(path, c.now, &read), c.expected) << c.what;
  }
  launch::StampRecord read("test-state 1");
  launch::CheckRecord(path, {{"one", a}}, &read);
  EXPECT_EQ(read.Get("md5"), "0123456789abcdef0123456789abcdef");

  // Taken too soon after the files' last change: right stamps, but no proof.
  launch::WriteRecord(path, kept, settledAt - 1, {{"one", a}});
  EXPECT_EQ(launch::CheckRecord(path, {{"one", a}}, &read), launch::RecordVouches::kUnsettled);
  // Another kind of record vouches for nothing.
  launch::StampRecord other("other-state 1");
  EXPECT_EQ(launch::CheckRecord(path, {{"one", a}}, &other), launch::RecordVouches::kNothing);
  // A record that cannot be written leaves none behind.
  launch::StampRecord bad("test-state 1");
  bad.Set("line", "two\nlines");
  launch::WriteRecord(path, bad, settledAt, {{"one", a}});
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(path)));
}
