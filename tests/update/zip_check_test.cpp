// The zip check of downloaded files on disk (libraries as they are, packages scrambled with
// the jar key): archives of two writers (the tests' own and Python's zipfile) pass whole,
// and fail cut short, damaged, replaced by a page or scrambled with another key, with a
// reason for the log.
#include "update/zip_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/text.h"
#include "platform/platform.h"
#include "support/test_support.h"
#include "zip_bytes.h"

namespace {

using testing_support::BinaryBody;
using testing_support::ReadBytes;
using testing_support::WriteBytes;
using zip_bytes::Zip;

constexpr std::uint8_t kKey = 0x5A;

std::string Scrambled(std::string bytes, std::uint8_t key) {
  for (char& c : bytes) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ key);
  return bytes;
}

// An archive Python's zipfile wrote at build time (make_zip_samples.py).
std::string Sample(const char* name) {
  std::string bytes = ReadBytes(testing_support::ExecutableDir() / "zip-samples" / name);
  EXPECT_FALSE(bytes.empty()) << name;
  return bytes;
}

const zip_bytes::Entries kTwo = {{"a.txt", "first entry"}, {"lib/B.class", std::string(300, '\xCA')}};

// More entries than the 16-bit count holds: a central directory far larger than what the
// check reads of the file at once.
const std::string& Many() {
  static const std::string bytes = [] {
    zip_bytes::Entries entries;
    for (int i = 0; i < 65537; ++i) entries.emplace_back(std::to_string(i), "");
    return Zip(entries);
  }();
  return bytes;
}

// Entries larger than what the check reads at once, so that their local headers lie far
// apart and far from the directory.
const std::string& Large() {
  static const std::string bytes =
      Zip({{"a.bin", BinaryBody(300000, 5)}, {"b.bin", BinaryBody(200000, 6)}, {"c.txt", "c"}});
  return bytes;
}

void SetU16(std::string& bytes, size_t at, unsigned value) {
  bytes[at] = static_cast<char>(value & 0xFF);
  bytes[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}
void SetU32(std::string& bytes, size_t at, std::uint32_t value) {
  SetU16(bytes, at, value & 0xFFFF);
  SetU16(bytes, at + 2, value >> 16);
}
unsigned U16(const std::string& bytes, size_t at) {
  return static_cast<unsigned char>(bytes[at]) | (static_cast<unsigned char>(bytes[at + 1]) << 8);
}
std::uint32_t U32(const std::string& bytes, size_t at) { return U16(bytes, at) | (U16(bytes, at + 2) << 16); }
size_t EndRecord(const std::string& bytes) { return bytes.rfind(std::string("PK\x05\x06", 4)); }

class ZipCheck : public ::testing::Test {
 protected:
  // The check of a file holding these bytes, unscrambled with `key`.
  bool Check(const std::string& fileBytes, std::uint8_t key, std::wstring* why = nullptr) {
    WriteBytes(File(), fileBytes);
    return IsWholeZipFile(File().wstring(), key, why);
  }
  // The check of these bytes as a library (as they are) and as a package (scrambled).
  void ExpectWhole(const std::string& bytes) {
    std::wstring why;
    EXPECT_TRUE(Check(bytes, 0, &why)) << base::WideToUtf8(why);
    EXPECT_TRUE(Check(Scrambled(bytes, kKey), kKey, &why)) << base::WideToUtf8(why);
  }
  void ExpectRefused(const std::string& bytes) {
    for (std::uint8_t key : {std::uint8_t{0}, kKey}) {
      std::wstring why;
      EXPECT_FALSE(Check(Scrambled(bytes, key), key, &why)) << "key " << int(key);
      EXPECT_FALSE(why.empty()) << "key " << int(key);
    }
  }
  std::filesystem::path File() const { return dir / "file.zip"; }

  testing_support::TempDir dir;
};

TEST_F(ZipCheck, WholeArchivesOfEitherWriterPassAsTheyAreAndScrambled) {
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"python: deflated, a folder entry", Sample("deflated.zip")},
      {"python: archive comment", Sample("commented.zip")},
      {"python: appended to a launcher stub", Sample("appended.jar")},
      {"python: zip64 end records", Sample("zip64.zip")},
      {"python: one entry", Sample("one.zip")},
      {"one entry", Zip({{"x", "y"}})},
      {"two entries", Zip(kTwo)},
      {"empty entry and name", Zip({{"", ""}})},
      {"a jar with an entry larger than the end's search", zip_bytes::Jar(BinaryBody(70000, 9))},
      {"entries far apart", Large()},
      {"comment", Zip(kTwo, {"a comment that mentions PK\x05\x06 itself", "", false})},
      {"longest comment", Zip(kTwo, {std::string(0xFFFF, 'c'), "", false})},
      {"stub before it, offsets of the archive", Zip(kTwo, {"", "#!/bin/sh\nexec java -jar \"$0\"\n", false})},
      {"zip64 with all-ones fields", Zip(kTwo, {"", "", true})},
      {"65537 entries, the 16-bit count wrapped", Many()},
      {"bytes after the end (Java reads it too)", Zip(kTwo) + std::string(100, '\0')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectWhole(c.bytes);
    // A package scrambled with another build's key.
    EXPECT_FALSE(Check(Scrambled(c.bytes, kKey), 0x3C));
  }
}

TEST_F(ZipCheck, AnArchiveCutAtAnyLengthFails) {
  for (const std::string& whole : {Sample("one.zip"), Sample("commented.zip"), Sample("zip64.zip"),
                                   Zip(kTwo, {"comment", "", true})}) {
    ASSERT_TRUE(Check(whole, 0));
    for (size_t length = 0; length < whole.size(); ++length)
      ASSERT_FALSE(Check(whole.substr(0, length), 0)) << length << " of " << whole.size();
  }
}

TEST_F(ZipCheck, PagesAndDamagedArchivesFailWithAReason) {
  const std::string zip = Zip(kTwo);
  const size_t end = EndRecord(zip);
  const size_t directory = U32(zip, end + 16);
  const size_t secondLocal = U32(zip, directory + 46 + 5 + 42);  // after the first header and "a.txt"
  auto changed = [](const std::string& from, auto change) {
    std::string bytes = from;
    change(bytes);
    return bytes;
  };
  const std::string zip64 = Zip(kTwo, {"", "", true});
  const size_t locator = EndRecord(zip64) - 20;
  const size_t record = locator - 56;
  const std::string emptyEnd = std::string("PK\x05\x06", 4) + std::string(18, '\0');
  // A central header in the middle of a directory far larger than the file's tail.
  const size_t manyDirectory = U32(Many(), EndRecord(Many()) + 16);
  const size_t middleHeader = Many().find("PK\x01\x02", (manyDirectory + EndRecord(Many())) / 2);
  // The local header of the second of the large entries.
  const size_t largeDirectory = U32(Large(), EndRecord(Large()) + 16);
  const size_t farLocal = U32(Large(), largeDirectory + 46 + 5 + 42);

  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"nothing", ""},
      {"shorter than an end record", emptyEnd.substr(0, 21)},
      {"an archive without entries", emptyEnd},
      {"an archive without entries, as written", Zip({})},
      {"a page", "<!DOCTYPE html>\n<html><head><title>404 Not Found</title></head><body></body></html>\n"},
      {"a page ending in an empty archive's end record", "<html><body>login</body></html>" + emptyEnd},
      {"a page with a zip's start", "PK\x03\x04<html>"},
      {"random bytes", BinaryBody(100000, 11)},
      {"cut in the middle", zip.substr(0, zip.size() / 2)},
      {"one entry more counted", changed(zip, [&](std::string& b) { SetU16(b, end + 8, 3); SetU16(b, end + 10, 3); })},
      {"one entry less counted", changed(zip, [&](std::string& b) { SetU16(b, end + 8, 1); SetU16(b, end + 10, 1); })},
      {"counts disagree", changed(zip, [&](std::string& b) { SetU16(b, end + 8, 1); })},
      {"another disk", changed(zip, [&](std::string& b) { SetU16(b, end + 4, 1); SetU16(b, end + 6, 1); })},
      {"directory one byte longer", changed(zip, [&](std::string& b) { SetU32(b, end + 12, U32(b, end + 12) + 1); })},
      {"directory one byte shorter", changed(zip, [&](std::string& b) { SetU32(b, end + 12, U32(b, end + 12) - 1); })},
      {"directory larger than the file", changed(zip, [&](std::string& b) { SetU32(b, end + 12, 0x7FFFFFFF); })},
      {"directory offset one more", changed(zip, [&](std::string& b) { SetU32(b, end + 16, U32(b, end + 16) + 1); })},
      {"directory offset past its start", changed(zip, [&](std::string& b) { SetU32(b, end + 16, 0x10000); })},
      {"directory offset far past the end", changed(zip, [&](std::string& b) { SetU32(b, end + 16, 0x7F000000); })},
      {"directory offset all ones without zip64", changed(zip, [&](std::string& b) { SetU32(b, end + 16, 0xFFFFFFFF); })},
      {"central header signature", changed(zip, [&](std::string& b) { b[directory + 3] = 9; })},
      {"local header signature", changed(zip, [&](std::string& b) { b[secondLocal + 2] = 9; })},
      {"local header past the directory", changed(zip, [&](std::string& b) { SetU32(b, directory + 42, 0x7000); })},
      {"name running past the directory", changed(zip, [&](std::string& b) { SetU16(b, directory + 28, 0x4000); })},
      {"comment running past the end", changed(zip, [&](std::string& b) { SetU16(b, end + 20, 1); })},
      {"a piece of the first entry missing", zip.substr(0, 40) + zip.substr(45)},
      {"zip64 locator pointing elsewhere", changed(zip64, [&](std::string& b) { SetU32(b, locator + 8, record + 1); })},
      {"zip64 record on another disk", changed(zip64, [&](std::string& b) { SetU32(b, locator + 4, 1); })},
      {"zip64 count against the short one", changed(zip64, [&](std::string& b) { SetU16(b, EndRecord(b) + 10, 1); })},
      {"zip64 counts disagree", changed(zip64, [&](std::string& b) { SetU32(b, record + 24, 1); })},
      // Java's reader takes the locator's offset from the file's start, so it fails there too.
      {"zip64 behind a stub", Zip(kTwo, {"", "#!/bin/sh\n", true})},
      {"zip64 directory size", changed(zip64, [&](std::string& b) { SetU32(b, record + 40, U32(b, record + 40) + 46); })},
      {"a central header far from the end", changed(Many(), [&](std::string& b) { b[middleHeader + 3] = 9; })},
      {"a local header far from the directory", changed(Large(), [&](std::string& b) { b[farLocal + 2] = 9; })},
  };
  ASSERT_NE(middleHeader, std::string::npos);
  ASSERT_EQ(Large().compare(farLocal, 4, "PK\x03\x04"), 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectRefused(c.bytes);
  }

  std::wstring why;
  EXPECT_FALSE(IsWholeZipFile((dir / "missing.zip").wstring(), 0, &why));
  EXPECT_FALSE(why.empty());
}

}  // namespace
