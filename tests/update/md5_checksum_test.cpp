#include "update/md5_checksum.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "base/text.h"
#include "platform/platform.h"
#include "support/test_support.h"

using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

std::wstring Md5OfFile(const std::filesystem::path& path) {
  platform::File file;
  EXPECT_TRUE(file.Open(path.wstring(), platform::OpenMode::kReadExclusive));
  auto digest = CMD5Checksum::GetMD5(file);
  EXPECT_TRUE(digest.has_value());
  return digest.value_or(L"");
}

// Deterministic bytes, the same on every platform.
std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  std::uint32_t x = 2463534242u;
  for (char& c : bytes) {
    x ^= x << 13; x ^= x >> 17; x ^= x << 5;
    c = static_cast<char>(x);
  }
  return bytes;
}

}  // namespace

TEST(Md5, Rfc1321SuiteThroughFiles) {
  struct Case {
    std::string input;
    std::wstring digest;
  } cases[] = {
      {"", L"d41d8cd98f00b204e9800998ecf8427e"},
      {"a", L"0cc175b9c0f1b6a831c399e269772661"},
      {"abc", L"900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", L"f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", L"c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       L"d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       L"57edf4a22be3c955ac49da2e2107b67a"},
      // The three tail cases: 55 bytes fit the length in the same block, 56 and 64 do not.
      {std::string(55, 'a'), L"ef1772b6dff9a122358552954ad0df65"},
      {std::string(56, 'a'), L"3b0c8ac703f828b04c6c197006d17218"},
      {std::string(64, 'a'), L"014842d480b571495a4a0363793f7367"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    WriteBytes(dir / "f", c.input);
    EXPECT_EQ(Md5OfFile(dir / "f"), c.digest) << c.input.size() << " bytes";
    EXPECT_EQ(CMD5Checksum::GetMD5(c.input.data(), c.input.size()), c.digest);
  }
}

TEST(Md5, PiecesOfAnySizeGiveTheWholeDigest) {
  std::string bytes = Pattern(300000);
  std::wstring whole = CMD5Checksum::GetMD5(bytes.data(), bytes.size());
  std::mt19937 random(7);
  for (int round = 0; round < 20; ++round) {
    CMD5Checksum md5;
    size_t at = 0;
    while (at < bytes.size()) {
      size_t n = std::min<size_t>(random() % 3000, bytes.size() - at);
      md5.Absorb(reinterpret_cast<const std::uint8_t*>(bytes.data()) + at, n);
      at += n;
    }
    ASSERT_EQ(md5.Finish(), whole);
  }
}

TEST(Md5, MultiMegabyteFileMatchesMd5sum) {
  TempDir dir;
  // 5 MiB + 37 bytes: many reads, and a last read that is no multiple of the buffer.
  WriteBytes(dir / "big.bin", Pattern(5 * 1024 * 1024 + 37));
  // Recorded with `md5sum` from the same bytes; the Linux build also asks md5sum itself.
  const std::wstring expected = L"3cd6d8068bcb7eb50f7ffe8f595e26a7";
  std::wstring ours = Md5OfFile(dir / "big.bin");
  if (platform::kPathSeparator == L'/') {
    std::string command = "md5sum '" + (dir / "big.bin").string() + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[128] = {};
    ASSERT_NE(fgets(line, sizeof line, pipe), nullptr);
    pclose(pipe);
    EXPECT_EQ(base::WideToUtf8(ours), std::string(line, 32));
  }
  EXPECT_EQ(ours, expected);
}

TEST(Md5, HashesFromTheCurrentPositionAndKeepsLeadingZeros) {
  TempDir dir;
  WriteBytes(dir / "f", "xyzabc");
  platform::File file;
  ASSERT_TRUE(file.Open((dir / "f").wstring(), platform::OpenMode::kReadExclusive));
  char skip[3];
  size_t got = 0;
  ASSERT_TRUE(file.Read(skip, 3, &got));
  EXPECT_EQ(CMD5Checksum::GetMD5(file).value_or(L""), L"900150983cd24fb0d6963f7d28e17f72");
  // A digest whose first byte is below 0x10 keeps both digits.
  EXPECT_EQ(CMD5Checksum::GetMD5("jk", 2), L"051a9911de7b5bbc610b76f4eda834a0");
}
