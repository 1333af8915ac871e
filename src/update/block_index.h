// The block index of a package ("<md5>.pak.idx" beside "<md5>.pak"): the package's bytes
// as a list of pieces, each with its length and a hash of its content, so that a launcher
// holding an older jar finds the pieces it already has (wherever they lie in its jar) and
// fetches only the others from the package itself with Range requests.
//
// A jar's pieces follow its zip structure, which is what stays equal between releases:
//  - kEntry: one local entry, from its local file header to the next local header (or the
//    central directory): header, name, extra field, data and any data descriptor;
//  - kCentral: one central file header with its name, extra field and comment;
//  - kRaw: anything else (bytes before the first entry, the end records and the comment),
//    in blocks of at most kRawBlock bytes.
// A rebuilt jar carries new times in every header and, after the first changed entry, new
// offsets in every central header. So the hash of an entry leaves out its header's time
// and date, that of a central header its time, date and local-header offset; the index
// holds those fields apart and the launcher writes them into the bytes it copies.
//
// The hashes are over the plain (unscrambled) bytes: the first 8 bytes of SHA-256. They
// only find candidates; the rebuilt package is verified whole like any download, so a
// false match (or a damaged index) costs a full download, never a wrong jar.
//
// File format (all numbers little-endian; "varint": 7 bits a byte, low first, the high
// bit set on every byte but the last):
//   "PAKIDX" 0x01 0x00      magic and format version 1
//   u64                     the package's length
//   32 bytes                its MD5 as 32 lowercase hex digits (ASCII)
//   32 bytes                its SHA-256
//   u32                     the number of pieces, then each piece in the package's order:
//     u8 tag                bits 0-1 kind (0 raw, 1 entry, 2 central); bit 2: the time is
//                           that of the previous entry or central piece; bit 3 (central):
//                           the time is that of the entry with the same ordinal
//     varint                the piece's length
//     u32 (entry, central)  the DOS time and date (time in the low half), unless bit 2 or 3
//     varint (central)      the local-header offset field minus the previous central
//                           piece's (the first: minus 0), zigzag-coded
//     8 bytes               the hash
//   32 bytes                SHA-256 of everything before it
// The pieces tile the package: offsets are the sum of the lengths before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/result.h"
#include "platform/crypto.h"
#include "platform/platform.h"

namespace block_index {

enum class PieceKind : std::uint8_t { kRaw = 0, kEntry = 1, kCentral = 2 };

struct Piece {
  std::uint64_t offset = 0;  // in the package
  std::uint64_t length = 0;
  std::uint64_t hash = 0;    // the first 8 bytes of the SHA-256, as a little-endian number
  std::uint32_t dosTime = 0;      // kEntry, kCentral: left out of the hash
  std::uint32_t localOffset = 0;  // kCentral: the local-header offset field, left out too
  PieceKind kind = PieceKind::kRaw;
};

struct Index {
  std::uint64_t packageLength = 0;
  std::string md5;  // 32 lowercase hex digits
  platform::Sha256Digest sha256{};
  std::vector<Piece> pieces;
};

constexpr std::uint64_t kRawBlock = 64 * 1024;
// Bounds that keep what a launcher holds in memory for an update small whatever the
// package (some 40 bytes a piece, for the new package and for the old jar): an index or a
// jar beyond them is updated by a full download.
constexpr std::size_t kMaxPieces = 128 * 1024;
constexpr std::size_t kMaxIndexBytes = 4 * 1024 * 1024;

// Where the fields left out of a piece's hash lie, from the piece's first byte.
constexpr std::uint64_t kEntryTimeAt = 10;
constexpr std::uint64_t kCentralTimeAt = 12;
constexpr std::uint64_t kCentralOffsetAt = 42;

// Splits the package in `file` (every byte XOR-ed with `xorKey`) into its pieces and
// hashes each, reading the file once from start to end through one fixed buffer. Fails
// for a file that is no whole zip archive (see zip_check.h) or has more than maxPieces.
base::Result<std::vector<Piece>> LayoutPackage(platform::File& file, std::uint8_t xorKey,
                                               std::size_t maxPieces = kMaxPieces);

std::string Encode(const Index& index);
// The index in `data`, checked: its own checksum, its version, pieces that tile the
// length it names with the shapes their kinds need, no more than kMaxPieces.
base::Result<Index> Decode(const std::uint8_t* data, std::size_t size);

// Writes into `plain`, the piece's plain bytes from `at` bytes into the piece on, the
// values of the piece's fields that its hash leaves out (those that fall in that span).
void PutHiddenFields(const Piece& piece, std::uint64_t at, std::uint8_t* plain, std::size_t size);

}  // namespace block_index
