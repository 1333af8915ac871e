// The memory a large update holds: a 256 MiB package fetched, verified and put in place as
// the update run does it, with this process's own peak memory (peak working set under
// Wine, VmHWM on Linux) read before and after. The program holds this one test, so that
// nothing else has raised the peak before it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "base/text.h"
#include "branding.h"
#include "diagnostics/log.h"
#include "platform/http.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "support/http_server.h"
#include "support/test_support.h"
#include "update/download.h"
#include "update/md5_checksum.h"
#include "update/package.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMiB = 1024 * 1024;

void Put(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint32_t CrcUpdate(std::uint32_t crc, const std::string& bytes) {
  static std::uint32_t table[256] = {};
  if (table[1] == 0) {
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320 & (0u - (c & 1)));
      table[n] = c;
    }
  }
  crc = ~crc;
  for (unsigned char b : bytes) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

// Writes a package of one stored entry of `size` bytes to `path` a mebibyte at a time (the
// test must not hold it in memory either) and returns its MD5.
std::wstring WriteLargePackage(const std::wstring& path, std::size_t size) {
  const std::string name = "zobj/Big.bin";
  std::string block = testing_support::BinaryBody(kMiB, 3);
  std::uint32_t crc = 0;
  for (std::size_t done = 0; done < size; done += kMiB) {
    block[0] = static_cast<char>(done / kMiB);
    crc = CrcUpdate(crc, block);
  }
  platform::File file;
  EXPECT_TRUE(file.Open(path, platform::OpenMode::kCreateNewExclusive));
  CMD5Checksum md5;
  auto emit = [&](std::string bytes) {
    for (char& c : bytes) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ branding::kJarKey);
    md5.Absorb(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    EXPECT_TRUE(file.Write(bytes.data(), bytes.size()));
  };
  std::string header;
  Put(header, 0x04034b50, 4);
  Put(header, 20, 2);
  Put(header, 0, 2);
  Put(header, 0, 2);  // stored
  Put(header, 0, 2);
  Put(header, 0x21, 2);
  Put(header, crc, 4);
  Put(header, size, 4);
  Put(header, size, 4);
  Put(header, name.size(), 2);
  Put(header, 0, 2);
  emit(header + name);
  for (std::size_t done = 0; done < size; done += kMiB) {
    block[0] = static_cast<char>(done / kMiB);
    emit(block);
  }
  std::string directory;
  Put(directory, 0x02014b50, 4);
  Put(directory, 20, 2);
  Put(directory, 20, 2);
  Put(directory, 0, 2);
  Put(directory, 0, 2);
  Put(directory, 0, 2);
  Put(directory, 0x21, 2);
  Put(directory, crc, 4);
  Put(directory, size, 4);
  Put(directory, size, 4);
  Put(directory, name.size(), 2);
  Put(directory, 0, 6);
  Put(directory, 0, 2);
  Put(directory, 0, 4);
  Put(directory, 0, 4);
  directory += name;
  std::string end;
  Put(end, 0x06054b50, 4);
  Put(end, 0, 4);
  Put(end, 1, 2);
  Put(end, 1, 2);
  Put(end, directory.size(), 4);
  Put(end, 30 + name.size() + size, 4);
  Put(end, 0, 2);
  emit(directory + end);
  return md5.Finish();
}

TEST(DownloadMemory, LargePackageNeedsOnlyAFewFixedBuffers) {
  testing_support::TestHttpServer& server = testing_support::TestHttpServer::Get();
  ASSERT_TRUE(server.Available());
  platform::InitHttp();
  const std::string folder = testing_support::UniqueServerFolder();
  server.Put(folder + "placeholder", "");
  const char* root = std::getenv("LAUNCHER_TEST_HTTP_ROOT");
  ASSERT_NE(root, nullptr);
  fs::path local = fs::path(base::Utf8ToWide(root)) / fs::path(base::Utf8ToWide(folder.substr(1)));
  const std::size_t size = 256 * kMiB;
  const std::wstring md5 = WriteLargePackage((local / "big.pak").wstring(), size);

  testing_support::TempDir work;
  theLog.StartAt((work / "t.log").wstring());
  const std::uint64_t before = platform::PeakMemoryBytes();
  ASSERT_GT(before, 0u) << "the system does not tell the peak memory";

  std::optional<DownloadedFile> package = FetchPackage(server.Url(folder + "big.pak"), work.WPath(), md5);
  ASSERT_TRUE(package.has_value());
  EXPECT_EQ(package->length, static_cast<std::int64_t>(30 + 12 + size + 46 + 12 + 22));
  EXPECT_TRUE(IsUsablePackage(*package));
  platform::Error err;
  EXPECT_TRUE(PutInPlace(*package, (work / "main.jar").wstring(), &err)) << base::WideToUtf8(err.message);

  const std::uint64_t after = platform::PeakMemoryBytes();
  theLog.StartAt(L"");
  // The buffers between the network and the disk, the client's own and some slack: far
  // below the package's size, which a download held in memory would add.
  EXPECT_LT(after - before, 32 * kMiB) << "peak before " << before << ", after " << after;
  EXPECT_EQ(fs::file_size(work / "main.jar"), package->length);
}

}  // namespace
