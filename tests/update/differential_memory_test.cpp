// The memory a large differential update holds: a 128 MiB package rebuilt from an older
// jar of the same size and the six entries that changed (24 MiB fetched in one range
// request), verified as the update run does it, with this process's own peak memory
// (peak working set under Wine, VmHWM on Linux) read before and after. The program holds
// this one test, so that nothing else has raised the peak before it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "base/text.h"
#include "branding.h"
#include "diagnostics/log.h"
#include "platform/crypto.h"
#include "platform/http.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "support/http_server.h"
#include "support/test_support.h"
#include "update/block_index.h"
#include "update/differential.h"
#include "update/md5_checksum.h"
#include "update/package.h"
#include "zip_bytes.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMiB = 1024 * 1024;
constexpr int kEntries = 32;
constexpr std::size_t kEntrySize = 4 * kMiB;

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

struct Written {
  std::wstring md5;
  platform::Sha256Digest sha256{};
};

// Writes a package of kEntries stored entries of kEntrySize bytes, a mebibyte at a time
// (the test must not hold it in memory either): entry i is made from seed `seeds[i]`.
Written WritePackage(const std::wstring& path, const std::vector<unsigned>& seeds, std::uint32_t dosTime) {
  platform::File file;
  EXPECT_TRUE(file.Open(path, platform::OpenMode::kCreateNewExclusive));
  CMD5Checksum md5;
  platform::Sha256 sha;
  std::uint64_t offset = 0;
  auto emit = [&](std::string bytes) {
    for (char& c : bytes) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ branding::kJarKey);
    md5.Absorb(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    sha.Update(bytes.data(), bytes.size());
    EXPECT_TRUE(file.Write(bytes.data(), bytes.size()));
    offset += bytes.size();
  };
  std::string directory;
  for (int i = 0; i < kEntries; ++i) {
    const std::string name = "data/part" + std::to_string(i) + ".bin";
    std::string block = testing_support::BinaryBody(kMiB, seeds[i]);
    std::uint32_t crc = 0;
    for (std::size_t done = 0; done < kEntrySize; done += kMiB) {
      block[0] = static_cast<char>(done / kMiB);
      crc = CrcUpdate(crc, block);
    }
    auto fields = [&](std::string& out) {
      zip_bytes::Put(out, 0, 2);  // flags
      zip_bytes::Put(out, 0, 2);  // stored
      zip_bytes::Put(out, dosTime, 4);
      zip_bytes::Put(out, crc, 4);
      zip_bytes::Put(out, kEntrySize, 4);
      zip_bytes::Put(out, kEntrySize, 4);
      zip_bytes::Put(out, name.size(), 2);
    };
    const std::uint64_t local = offset;
    std::string header;
    zip_bytes::Put(header, 0x04034b50, 4);
    zip_bytes::Put(header, 20, 2);
    fields(header);
    zip_bytes::Put(header, 0, 2);
    emit(header + name);
    for (std::size_t done = 0; done < kEntrySize; done += kMiB) {
      block[0] = static_cast<char>(done / kMiB);
      emit(block);
    }
    zip_bytes::Put(directory, 0x02014b50, 4);
    zip_bytes::Put(directory, 20, 2);
    zip_bytes::Put(directory, 20, 2);
    fields(directory);
    zip_bytes::Put(directory, 0, 8);  // extra, comment, disk, internal attributes
    zip_bytes::Put(directory, 0, 4);  // external attributes
    zip_bytes::Put(directory, local, 4);
    directory += name;
  }
  std::string end;
  zip_bytes::Put(end, 0x06054b50, 4);
  zip_bytes::Put(end, 0, 4);
  zip_bytes::Put(end, kEntries, 2);
  zip_bytes::Put(end, kEntries, 2);
  zip_bytes::Put(end, directory.size(), 4);
  zip_bytes::Put(end, offset, 4);
  zip_bytes::Put(end, 0, 2);
  emit(directory + end);
  return {md5.Finish(), sha.Finish()};
}

TEST(DifferentialMemory, LargeUpdateNeedsOnlyAFewFixedBuffers) {
  testing_support::TestHttpServer& server = testing_support::TestHttpServer::Get();
  ASSERT_TRUE(server.Available());
  platform::InitHttp();
  const std::string folder = testing_support::UniqueServerFolder();
  server.Put(folder + "placeholder", "");
  testing_support::TempDir work;

  std::vector<unsigned> oldSeeds, newSeeds;
  for (int i = 0; i < kEntries; ++i) {
    oldSeeds.push_back(10 + i);
    newSeeds.push_back(i % 5 == 2 && i < 30 ? 500 + i : 10 + i);
  }
  const fs::path oldJar = work / "main.jar";
  WritePackage(oldJar.wstring(), oldSeeds, 0x5A210000u);
  const fs::path pak = server.LocalPath(folder + "new.pak");
  const Written next = WritePackage(pak.wstring(), newSeeds, 0x5B210000u);
  {
    platform::File file;
    ASSERT_TRUE(file.Open(pak.wstring(), platform::OpenMode::kReadShared));
    base::Result<std::vector<block_index::Piece>> pieces = block_index::LayoutPackage(file, branding::kJarKey);
    ASSERT_TRUE(pieces.ok()) << base::WideToUtf8(pieces.failure().reason);
    block_index::Index index;
    index.packageLength = static_cast<std::uint64_t>(fs::file_size(pak));
    index.md5 = base::WideToUtf8(next.md5);
    index.sha256 = next.sha256;
    index.pieces = std::move(*pieces);
    server.Put(folder + "new.pak.idx", block_index::Encode(index));
  }

  theLog.StartAt((work / "t.log").wstring());
  const std::uint64_t before = platform::PeakMemoryBytes();
  ASSERT_GT(before, 0u) << "the system does not tell the peak memory";

  DifferentialRequest request;
  request.oldJar = oldJar.wstring();
  request.packageUrl = server.Url(folder + "new.pak");
  request.indexUrl = server.Url(folder + "new.pak.idx");
  request.partialPath = (work / "new.pak.part").wstring();
  request.md5 = next.md5;
  request.jarKey = branding::kJarKey;
  base::Result<DifferentialOutcome> outcome = BuildPackageDifferentially(request);
  ASSERT_TRUE(outcome.ok()) << base::WideToUtf8(outcome.failure().reason);
  EXPECT_TRUE(IsUsablePackage(outcome->file));

  const std::uint64_t after = platform::PeakMemoryBytes();
  theLog.StartAt(L"");
  // The copy buffer, the client's own and some slack: below the 24 MiB fetched and far
  // below the 128 MiB built, which an update held in memory would add.
  EXPECT_LT(after - before, 16 * kMiB) << "peak before " << before << ", after " << after;
  EXPECT_EQ(outcome->file.length, static_cast<std::int64_t>(fs::file_size(pak)));
  EXPECT_EQ(outcome->file.sha256, next.sha256);
  // Six entries fetched (and their central headers and the end record), the rest copied.
  EXPECT_GE(outcome->fetched, 6 * kEntrySize);
  EXPECT_LT(outcome->fetched, 6 * kEntrySize + 4096);
  EXPECT_EQ(outcome->reused + outcome->fetched, static_cast<std::uint64_t>(outcome->file.length));
  EXPECT_EQ(server.Requests(folder + "new.pak"), (std::vector<std::string>{folder + "new.pak.idx", folder + "new.pak"}));
}

}  // namespace
