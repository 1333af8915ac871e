// The block index: a package split along its zip structure (archives of the tests' own
// writer and of Python's zipfile), hashes that stay equal across a rebuild that moved and
// re-timed the entries, the new package reassembled from the old one's pieces and the
// bytes that changed, and an index file that is refused when damaged.
#include "update/block_index.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "base/text.h"
#include "platform/platform.h"
#include "support/test_support.h"
#include "zip_bytes.h"

namespace {

using block_index::Piece;
using block_index::PieceKind;
using testing_support::BinaryBody;
using testing_support::ReadBytes;
using testing_support::WriteBytes;

constexpr std::uint8_t kKey = 0x5A;

std::string Scrambled(std::string bytes, std::uint8_t key) {
  for (char& c : bytes) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ key);
  return bytes;
}

std::vector<Piece> Layout(const std::string& bytes, std::uint8_t key = 0, std::size_t maxPieces = block_index::kMaxPieces) {
  testing_support::TempDir dir;
  WriteBytes(dir / "package", bytes);
  platform::File file;
  EXPECT_TRUE(file.Open((dir / "package").wstring(), platform::OpenMode::kReadShared));
  base::Result<std::vector<Piece>> pieces = block_index::LayoutPackage(file, key, maxPieces);
  EXPECT_TRUE(pieces.ok()) << (pieces ? "" : base::WideToUtf8(pieces.failure().reason));
  return pieces ? *pieces : std::vector<Piece>{};
}

std::size_t CountOf(const std::vector<Piece>& pieces, PieceKind kind) {
  std::size_t n = 0;
  for (const Piece& piece : pieces) n += piece.kind == kind;
  return n;
}

std::string Sample(const char* name) {
  return ReadBytes(testing_support::ExecutableDir() / "zip-samples" / name);
}

zip_bytes::Options With(std::string prefix, std::string comment, bool zip64, std::uint32_t dosTime = 0x00210000) {
  zip_bytes::Options options;
  options.prefix = std::move(prefix);
  options.comment = std::move(comment);
  options.zip64 = zip64;
  options.dosTime = dosTime;
  return options;
}

zip_bytes::Entries Classes(int count, unsigned seed) {
  zip_bytes::Entries entries;
  for (int i = 0; i < count; ++i)
    entries.push_back({"zobj/C" + std::to_string(i) + ".class", BinaryBody(500 + 37 * i, seed + i)});
  return entries;
}

TEST(BlockIndex, PiecesFollowTheZipStructure) {
  const zip_bytes::Entries three = Classes(3, 1);
  struct Case {
    const char* name;
    std::string archive;
    std::size_t entries;
    bool rawBefore;  // bytes before the first entry
  } cases[] = {
      {"plain", zip_bytes::Zip(three), 3, false},
      {"with a stub before it", zip_bytes::Zip(three, With(std::string(70000, '#'), "", false)), 3, true},
      {"with a comment", zip_bytes::Zip(three, With("", "release notes", false)), 3, false},
      {"zip64 end records", zip_bytes::Zip(three, With("", "", true)), 3, false},
      {"Python, deflated", Sample("deflated.zip"), 4, false},
      {"Python, commented", Sample("commented.zip"), 4, false},
      {"Python, appended to a stub", Sample("appended.jar"), 4, true},
      {"Python, zip64", Sample("zip64.zip"), 4, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.archive.empty());
    std::vector<Piece> pieces = Layout(c.archive);
    ASSERT_FALSE(pieces.empty());
    // The pieces tile the file in order, raw ones no longer than a block.
    std::uint64_t at = 0;
    for (const Piece& piece : pieces) {
      EXPECT_EQ(piece.offset, at);
      EXPECT_GT(piece.length, 0u);
      if (piece.kind == PieceKind::kRaw) {
        EXPECT_LE(piece.length, block_index::kRawBlock);
      }
      at += piece.length;
    }
    EXPECT_EQ(at, c.archive.size());
    EXPECT_EQ(CountOf(pieces, PieceKind::kEntry), c.entries);
    EXPECT_EQ(CountOf(pieces, PieceKind::kCentral), c.entries);
    EXPECT_EQ(pieces.front().kind == PieceKind::kRaw, c.rawBefore);
    // Entries, then the directory, then the end records as raw bytes.
    EXPECT_EQ(pieces.back().kind, PieceKind::kRaw);
    // Each entry starts at a local header, each central piece at a central header.
    for (const Piece& piece : pieces) {
      const char* signature = piece.kind == PieceKind::kEntry ? "PK\x03\x04" : piece.kind == PieceKind::kCentral ? "PK\x01\x02" : nullptr;
      if (signature) {
        EXPECT_EQ(c.archive.compare(piece.offset, 4, signature), 0);
      }
    }
    // A package, scrambled with the jar key, has the plain jar's pieces and hashes.
    std::vector<Piece> scrambled = Layout(Scrambled(c.archive, kKey), kKey);
    ASSERT_EQ(scrambled.size(), pieces.size());
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      EXPECT_EQ(scrambled[i].hash, pieces[i].hash);
      EXPECT_EQ(scrambled[i].dosTime, pieces[i].dosTime);
      EXPECT_EQ(scrambled[i].localOffset, pieces[i].localOffset);
    }
  }
}

TEST(BlockIndex, NoIndexForWhatIsNoWholeArchive) {
  testing_support::TempDir dir;
  const std::string whole = zip_bytes::Zip(Classes(5, 2));
  struct Case {
    const char* name;
    std::string bytes;
    base::Failure::Kind kind;
  } cases[] = {
      {"not a zip", BinaryBody(5000, 3), base::Failure::Kind::kInvalid},
      {"cut short", whole.substr(0, whole.size() - 30), base::Failure::Kind::kInvalid},
      {"empty", "", base::Failure::Kind::kInvalid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(dir / "package", c.bytes);
    platform::File file;
    ASSERT_TRUE(file.Open((dir / "package").wstring(), platform::OpenMode::kReadShared));
    base::Result<std::vector<Piece>> pieces = block_index::LayoutPackage(file, 0);
    ASSERT_FALSE(pieces.ok());
    EXPECT_EQ(pieces.failure().kind, c.kind);
  }
  // More pieces than a launcher takes: five entries, their five central headers, the end.
  WriteBytes(dir / "package", whole);
  platform::File file;
  ASSERT_TRUE(file.Open((dir / "package").wstring(), platform::OpenMode::kReadShared));
  base::Result<std::vector<Piece>> tooMany = block_index::LayoutPackage(file, 0, 10);
  ASSERT_FALSE(tooMany.ok());
  EXPECT_EQ(tooMany.failure().kind, base::Failure::Kind::kTooLarge);
  EXPECT_EQ(Layout(whole, 0, 11).size(), 11u);
}

// A rebuild as a release makes it: new times everywhere, entries in another order and at
// other offsets (a stub before them), one changed, one added, one removed. Every piece the
// two share hashes alike; writing the new piece's hidden fields into the old piece's bytes
// gives the new bytes; what is left to fetch is the changed entries, their central
// headers and the end records.
TEST(BlockIndex, NewPackageReassemblesFromTheOldOnesPieces) {
  zip_bytes::Entries oldEntries = Classes(12, 10);
  zip_bytes::Entries newEntries = oldEntries;
  std::reverse(newEntries.begin(), newEntries.end());
  newEntries[3].second = BinaryBody(800, 99);         // changed
  newEntries.push_back({"zobj/Added.class", BinaryBody(900, 98)});  // added
  newEntries.erase(newEntries.begin() + 7);           // removed
  const std::string oldJar = zip_bytes::Zip(oldEntries, With("", "", false, 0x5A214C3Eu));
  const std::string newJar = zip_bytes::Zip(newEntries, With("#!stub\n", "", false, 0x5B3C7801u));

  std::vector<Piece> oldPieces = Layout(Scrambled(oldJar, kKey), kKey);
  std::vector<Piece> newPieces = Layout(Scrambled(newJar, kKey), kKey);
  std::map<std::pair<PieceKind, std::uint64_t>, const Piece*> byHash;
  for (const Piece& piece : oldPieces) byHash[{piece.kind, piece.hash}] = &piece;

  std::string rebuilt;
  std::uint64_t fetched = 0;
  std::size_t reusedEntries = 0, reusedCentrals = 0;
  for (const Piece& piece : newPieces) {
    auto found = byHash.find({piece.kind, piece.hash});
    if (found == byHash.end() || found->second->length != piece.length) {
      rebuilt += newJar.substr(piece.offset, piece.length);
      fetched += piece.length;
      continue;
    }
    std::string bytes = oldJar.substr(found->second->offset, piece.length);
    block_index::PutHiddenFields(piece, 0, reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size());
    rebuilt += bytes;
    reusedEntries += piece.kind == PieceKind::kEntry;
    reusedCentrals += piece.kind == PieceKind::kCentral;
  }
  EXPECT_EQ(rebuilt, newJar);
  // Ten entries are unchanged, with their central headers.
  EXPECT_EQ(reusedEntries, 10u);
  EXPECT_EQ(reusedCentrals, 10u);
  EXPECT_LT(fetched, 800 + 900 + 2 * 200 + 200u);

  // Hidden fields put in piecewise, from any point in the piece, give the same bytes.
  for (const Piece& piece : newPieces) {
    if (piece.kind != PieceKind::kCentral) continue;
    std::string whole = newJar.substr(piece.offset, piece.length);
    std::string pieces(whole.size(), '\0');
    for (std::uint64_t at = 0; at < whole.size(); at += 5) {
      std::size_t n = std::min<std::size_t>(5, whole.size() - at);
      block_index::PutHiddenFields(piece, at, reinterpret_cast<std::uint8_t*>(pieces.data()) + at, n);
    }
    for (std::uint64_t at : {block_index::kCentralTimeAt, block_index::kCentralOffsetAt})
      EXPECT_EQ(pieces.substr(at, 4), whole.substr(at, 4));
  }
}

block_index::Index SampleIndex() {
  const std::string jar = zip_bytes::Zip(Classes(6, 20), With("", "c", false, 0x51234567u));
  block_index::Index index;
  index.packageLength = jar.size();
  index.md5 = "0123456789abcdef0123456789abcdef";
  index.sha256 = platform::Sha256::Of(jar.data(), jar.size());
  index.pieces = Layout(jar);
  return index;
}

TEST(BlockIndex, EncodedIndexDecodesToTheSamePieces) {
  const block_index::Index index = SampleIndex();
  const std::string bytes = block_index::Encode(index);
  // Small beside what it describes: about twenty bytes an entry.
  EXPECT_LT(bytes.size(), 200u + 2 * 6 * 24);
  base::Result<block_index::Index> decoded =
      block_index::Decode(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  ASSERT_TRUE(decoded.ok()) << base::WideToUtf8(decoded.failure().reason);
  EXPECT_EQ(decoded->packageLength, index.packageLength);
  EXPECT_EQ(decoded->md5, index.md5);
  EXPECT_EQ(decoded->sha256, index.sha256);
  ASSERT_EQ(decoded->pieces.size(), index.pieces.size());
  for (std::size_t i = 0; i < index.pieces.size(); ++i) {
    SCOPED_TRACE(i);
    const Piece& a = index.pieces[i];
    const Piece& b = decoded->pieces[i];
    EXPECT_EQ(b.offset, a.offset);
    EXPECT_EQ(b.length, a.length);
    EXPECT_EQ(b.kind, a.kind);
    EXPECT_EQ(b.hash, a.hash);
    EXPECT_EQ(b.dosTime, a.dosTime);
    EXPECT_EQ(b.localOffset, a.localOffset);
  }
  // The same input, the same bytes: publishing twice leaves the index as it was.
  EXPECT_EQ(block_index::Encode(index), bytes);
}

// The index's own checksum again over changed bytes: what only the checks of the content
// can catch.
std::string Resummed(std::string bytes) {
  bytes.resize(bytes.size() - 32);
  platform::Sha256Digest sum = platform::Sha256::Of(bytes.data(), bytes.size());
  return bytes + std::string(reinterpret_cast<const char*>(sum.data()), sum.size());
}

void PutU64(std::string& bytes, std::size_t at, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

TEST(BlockIndex, DamagedIndexIsRefused) {
  const block_index::Index index = SampleIndex();
  const std::string good = block_index::Encode(index);
  constexpr std::size_t kFirstTag = 8 + 8 + 32 + 32 + 4;
  struct Case {
    const char* name;
    std::string bytes;
    const char* reason;  // a part of the failure's reason
  } cases[] = {
      {"empty", "", "too short"},
      {"a page in its place", "<html><body>Please log in to the hotel's network</body></html>" + std::string(100, ' '),
       "no index"},
      {"cut after its head", good.substr(0, kFirstTag + 3), "too short"},
      {"cut before its checksum", good.substr(0, good.size() - 32), "checksum"},
      {"cut in its checksum", good.substr(0, good.size() - 1), "checksum"},
      {"one byte changed", [&] { std::string b = good; b[kFirstTag + 20] ^= 0x10; return b; }(), "checksum"},
      {"a later format version", [&] { std::string b = good; b[6] = 2; return Resummed(b); }(), "format version"},
      {"an unknown piece tag", [&] { std::string b = good; b[kFirstTag] |= 0x40; return Resummed(b); }(), "piece tag"},
      {"a raw piece with a time",
       [&] { std::string b = good; b[kFirstTag] = static_cast<char>(b[kFirstTag] | 0x04); return Resummed(b); }(),
       "piece"},
      {"a package longer than its pieces",
       [&] { std::string b = good; PutU64(b, 8, index.packageLength + 1); return Resummed(b); }(), "do not cover"},
      {"a package shorter than its pieces",
       [&] { std::string b = good; PutU64(b, 8, index.packageLength - 1); return Resummed(b); }(), "piece length"},
      {"more pieces than it holds",
       [&] { std::string b = good; b[kFirstTag - 4] = static_cast<char>(b[kFirstTag - 4] + 1); return Resummed(b); }(),
       "too short"},
      {"bytes after its pieces",
       [&] { std::string b = good; b.insert(b.size() - 32, "x"); return Resummed(b); }(), "bytes after the pieces"},
      {"a piece count beyond any index",
       [&] { std::string b = good; b[kFirstTag - 1] = 0x7F; return Resummed(b); }(), "pieces"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    base::Result<block_index::Index> decoded =
        block_index::Decode(reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size());
    ASSERT_FALSE(decoded.ok());
    EXPECT_NE(base::WideToUtf8(decoded.failure().reason).find(c.reason), std::string::npos)
        << base::WideToUtf8(decoded.failure().reason);
  }
  // Cut at every length: never taken.
  for (std::size_t n = 0; n < good.size(); ++n) {
    base::Result<block_index::Index> decoded = block_index::Decode(reinterpret_cast<const std::uint8_t*>(good.data()), n);
    EXPECT_FALSE(decoded.ok()) << n;
  }
}

}  // namespace
