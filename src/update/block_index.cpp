#include "update/block_index.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "update/zip_check.h"

namespace block_index {

namespace {

using base::Failure;
using base::MakeFailure;

constexpr char kMagic[8] = {'P', 'A', 'K', 'I', 'D', 'X', 1, 0};
constexpr std::size_t kHashBytes = 8;
constexpr std::size_t kChecksumBytes = 32;
constexpr std::size_t kHeaderBytes = sizeof kMagic + 8 + 32 + 32 + 4;
constexpr std::uint8_t kKindBits = 0x03;
constexpr std::uint8_t kTimeAsPrevious = 0x04;
constexpr std::uint8_t kTimeAsEntry = 0x08;
constexpr std::size_t kReadBuffer = 256 * 1024;
// The smallest pieces that hold the fields their hashes leave out.
constexpr std::uint64_t kLocalHeaderSize = 30;
constexpr std::uint64_t kCentralHeaderSize = 46;

// The fields a piece's hash leaves out: where each lies in the piece, and its value.
template <typename Visit>
void ForHiddenFields(PieceKind kind, Visit&& visit) {
  if (kind == PieceKind::kEntry) visit(kEntryTimeAt, &Piece::dosTime);
  if (kind == PieceKind::kCentral) {
    visit(kCentralTimeAt, &Piece::dosTime);
    visit(kCentralOffsetAt, &Piece::localOffset);
  }
}

// Takes the hidden fields' bytes that lie in `buffer` (the plain bytes of the package from
// `start` on) into the piece and zeroes them there, so that the hash passes over them.
void TakeHiddenFields(Piece& piece, std::uint64_t start, std::uint8_t* buffer, std::size_t size) {
  ForHiddenFields(piece.kind, [&](std::uint64_t fieldAt, std::uint32_t Piece::*field) {
    for (unsigned i = 0; i < 4; ++i) {
      const std::uint64_t at = piece.offset + fieldAt + i;
      if (at < start || at - start >= size) continue;
      piece.*field |= static_cast<std::uint32_t>(buffer[at - start]) << (8 * i);
      buffer[at - start] = 0;
    }
  });
}

std::uint64_t HashValue(const platform::Sha256Digest& digest) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < kHashBytes; ++i) value |= static_cast<std::uint64_t>(digest[i]) << (8 * i);
  return value;
}

// Hashes every piece with one pass over the file.
base::Status HashPieces(platform::File& file, std::uint8_t xorKey, std::vector<Piece>& pieces) {
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kReadBuffer]);
  platform::Sha256 sha;
  platform::Error err;
  if (!file.Seek(0, &err)) return MakeFailure(Failure::Kind::kSystem, err.message, err.code);
  std::uint64_t start = 0;  // of the buffer's bytes in the file
  std::size_t size = 0;
  std::size_t used = 0;     // of those, the bytes hashed already
  for (Piece& piece : pieces) {
    std::uint64_t left = piece.length;
    while (left > 0) {
      if (used == size) {
        start += size;
        size = used = 0;
        while (size < kReadBuffer) {
          std::size_t got = 0;
          if (!file.Read(buffer.get() + size, kReadBuffer - size, &got, &err))
            return MakeFailure(Failure::Kind::kSystem, err.message, err.code);
          if (got == 0) break;
          size += got;
        }
        if (size == 0) return MakeFailure(Failure::Kind::kSystem, L"the file ended early");
        for (std::size_t i = 0; i < size; ++i) buffer[i] ^= xorKey;
        // Fields of pieces that start in this buffer, or began in the one before.
        for (Piece* p = &piece; p != pieces.data() + pieces.size() && p->offset < start + size; ++p)
          TakeHiddenFields(*p, start, buffer.get(), size);
      }
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, size - used));
      sha.Update(buffer.get() + used, n);
      used += n;
      left -= n;
    }
    if (!sha.Ok()) return MakeFailure(Failure::Kind::kSystem, sha.Failure().message, sha.Failure().code);
    piece.hash = HashValue(sha.Finish());
  }
  return {};
}

void PutU(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void PutVarint(std::string& out, std::uint64_t value) {
  while (value >= 0x80) {
    out += static_cast<char>((value & 0x7F) | 0x80);
    value >>= 7;
  }
  out += static_cast<char>(value);
}

// Reads the index front to back; any read past its end marks it short.
class Cursor {
 public:
  Cursor(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool Short() const { return short_; }
  std::size_t Left() const { return size_ - at_; }

  std::uint64_t U(int bytes) {
    if (Left() < static_cast<std::size_t>(bytes)) return Fail();
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= static_cast<std::uint64_t>(data_[at_++]) << (8 * i);
    return value;
  }
  std::uint64_t Varint() {
    std::uint64_t value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (Left() == 0) return Fail();
      const std::uint8_t byte = data_[at_++];
      value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
      if ((byte & 0x80) == 0) return value;
    }
    return Fail();  // more than ten bytes: no number of ours
  }
  const std::uint8_t* Bytes(std::size_t count) {
    if (Left() < count) {
      Fail();
      return nullptr;
    }
    const std::uint8_t* bytes = data_ + at_;
    at_ += count;
    return bytes;
  }

 private:
  std::uint64_t Fail() {
    short_ = true;
    at_ = size_;
    return 0;
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
  bool short_ = false;
};

Failure Damaged(const std::wstring& what) { return MakeFailure(Failure::Kind::kInvalid, L"index damaged: " + what); }

}  // namespace

base::Result<std::vector<Piece>> LayoutPackage(platform::File& file, std::uint8_t xorKey, std::size_t maxPieces) {
  std::vector<ZipCentralRecord> records;
  bool tooMany = false;
  base::Result<ZipDirectoryBounds> walked = WalkWholeZip(file, xorKey, [&](const ZipCentralRecord& record) {
    if (records.size() < maxPieces) records.push_back(record);
    else tooMany = true;
  });
  if (!walked) return walked.TakeFailure();
  const auto tooLarge = [&] {
    return MakeFailure(Failure::Kind::kTooLarge, L"more than " + std::to_wstring(maxPieces) + L" pieces");
  };
  if (tooMany) return tooLarge();
  const ZipDirectoryBounds bounds = *walked;
  const std::int64_t fileLength = file.Length();
  if (fileLength < 0 || static_cast<std::uint64_t>(fileLength) < bounds.end)
    return MakeFailure(Failure::Kind::kSystem, L"cannot read the file");
  const std::uint64_t size = static_cast<std::uint64_t>(fileLength);

  // Each local header starts an entry, which runs to the next one or to the directory.
  std::vector<std::uint64_t> locals;
  locals.reserve(records.size());
  for (const ZipCentralRecord& record : records)
    if (record.localHeader != kZipOffsetInZip64Field && record.localHeader < bounds.start)
      locals.push_back(record.localHeader);
  std::sort(locals.begin(), locals.end());
  locals.erase(std::unique(locals.begin(), locals.end()), locals.end());

  std::vector<Piece> pieces;
  pieces.reserve(2 * records.size() + 2);
  auto add = [&](PieceKind kind, std::uint64_t from, std::uint64_t to) {
    Piece piece;
    piece.kind = kind;
    piece.offset = from;
    piece.length = to - from;
    pieces.push_back(piece);
  };
  auto addRaw = [&](std::uint64_t from, std::uint64_t to) {
    for (; from < to; from += std::min(kRawBlock, to - from)) add(PieceKind::kRaw, from, from + std::min(kRawBlock, to - from));
  };
  addRaw(0, locals.empty() ? bounds.start : locals.front());
  for (std::size_t i = 0; i < locals.size(); ++i) {
    const std::uint64_t end = i + 1 < locals.size() ? locals[i + 1] : bounds.start;
    // Headers closer together than a header's size overlap: no entry of a sound archive.
    if (end - locals[i] >= kLocalHeaderSize) add(PieceKind::kEntry, locals[i], end);
    else addRaw(locals[i], end);
  }
  for (const ZipCentralRecord& record : records) add(PieceKind::kCentral, record.offset, record.offset + record.length);
  addRaw(bounds.end, size);
  if (pieces.size() > maxPieces) return tooLarge();

  base::Status hashed = HashPieces(file, xorKey, pieces);
  if (!hashed) return hashed.TakeFailure();
  return pieces;
}

std::string Encode(const Index& index) {
  std::string out(kMagic, sizeof kMagic);
  PutU(out, index.packageLength, 8);
  std::string md5 = index.md5;
  md5.resize(32, '0');
  out += md5;
  out.append(reinterpret_cast<const char*>(index.sha256.data()), index.sha256.size());
  PutU(out, index.pieces.size(), 4);
  std::vector<std::uint32_t> entryTimes;
  std::size_t centrals = 0;
  std::uint32_t previousTime = 0;
  bool hasPreviousTime = false;
  std::uint32_t previousOffset = 0;
  for (const Piece& piece : index.pieces) {
    std::uint8_t tag = static_cast<std::uint8_t>(piece.kind);
    const bool timed = piece.kind != PieceKind::kRaw;
    if (timed && hasPreviousTime && piece.dosTime == previousTime) tag |= kTimeAsPrevious;
    else if (piece.kind == PieceKind::kCentral && centrals < entryTimes.size() && entryTimes[centrals] == piece.dosTime)
      tag |= kTimeAsEntry;
    out += static_cast<char>(tag);
    PutVarint(out, piece.length);
    if (timed && (tag & (kTimeAsPrevious | kTimeAsEntry)) == 0) PutU(out, piece.dosTime, 4);
    if (piece.kind == PieceKind::kCentral) {
      const std::int64_t delta = static_cast<std::int64_t>(piece.localOffset) - previousOffset;
      PutVarint(out, (static_cast<std::uint64_t>(delta) << 1) ^ static_cast<std::uint64_t>(delta >> 63));
      previousOffset = piece.localOffset;
      ++centrals;
    }
    if (piece.kind == PieceKind::kEntry) entryTimes.push_back(piece.dosTime);
    if (timed) {
      previousTime = piece.dosTime;
      hasPreviousTime = true;
    }
    PutU(out, piece.hash, kHashBytes);
  }
  platform::Sha256Digest checksum = platform::Sha256::Of(out.data(), out.size());
  out.append(reinterpret_cast<const char*>(checksum.data()), checksum.size());
  return out;
}

base::Result<Index> Decode(const std::uint8_t* data, std::size_t size) {
  if (size < kHeaderBytes + kChecksumBytes) return Damaged(L"too short");
  if (std::memcmp(data, kMagic, 6) != 0) return Damaged(L"no index");
  if (std::memcmp(data, kMagic, sizeof kMagic) != 0)
    return MakeFailure(Failure::Kind::kInvalid, L"index of another format version");
  const std::size_t body = size - kChecksumBytes;
  platform::Sha256Digest checksum = platform::Sha256::Of(data, body);
  if (std::memcmp(checksum.data(), data + body, kChecksumBytes) != 0) return Damaged(L"checksum");

  Cursor in(data + sizeof kMagic, body - sizeof kMagic);
  Index index;
  index.packageLength = in.U(8);
  const std::uint8_t* md5 = in.Bytes(32);
  const std::uint8_t* sha = in.Bytes(32);
  const std::uint64_t count = in.U(4);
  if (in.Short()) return Damaged(L"too short");
  index.md5.assign(reinterpret_cast<const char*>(md5), 32);
  std::memcpy(index.sha256.data(), sha, index.sha256.size());
  // Every piece takes ten bytes or more: a count beyond what the rest can hold is damage,
  // and nothing is reserved for it.
  if (count > kMaxPieces) return MakeFailure(Failure::Kind::kTooLarge, L"index of more than " + std::to_wstring(kMaxPieces) + L" pieces");
  if (count > in.Left() / 10) return Damaged(L"piece count");
  index.pieces.reserve(static_cast<std::size_t>(count));

  std::vector<std::uint32_t> entryTimes;
  std::size_t centrals = 0;
  std::uint32_t previousTime = 0;
  bool hasPreviousTime = false;
  std::uint32_t previousOffset = 0;
  std::uint64_t offset = 0;
  for (std::uint64_t i = 0; i < count; ++i) {
    Piece piece;
    const std::uint8_t tag = static_cast<std::uint8_t>(in.U(1));
    if ((tag & ~(kKindBits | kTimeAsPrevious | kTimeAsEntry)) != 0 || (tag & kKindBits) > 2)
      return Damaged(L"piece tag");
    piece.kind = static_cast<PieceKind>(tag & kKindBits);
    piece.offset = offset;
    piece.length = in.Varint();
    const bool timed = piece.kind != PieceKind::kRaw;
    if (!timed && (tag & (kTimeAsPrevious | kTimeAsEntry)) != 0) return Damaged(L"piece tag");
    if ((tag & kTimeAsEntry) != 0 && (piece.kind != PieceKind::kCentral || (tag & kTimeAsPrevious) != 0))
      return Damaged(L"piece tag");
    if ((tag & kTimeAsPrevious) != 0) {
      if (!hasPreviousTime) return Damaged(L"piece time");
      piece.dosTime = previousTime;
    } else if ((tag & kTimeAsEntry) != 0) {
      if (centrals >= entryTimes.size()) return Damaged(L"piece time");
      piece.dosTime = entryTimes[centrals];
    } else if (timed) {
      piece.dosTime = static_cast<std::uint32_t>(in.U(4));
    }
    if (piece.kind == PieceKind::kCentral) {
      const std::uint64_t zigzag = in.Varint();
      const std::int64_t delta = static_cast<std::int64_t>(zigzag >> 1) ^ -static_cast<std::int64_t>(zigzag & 1);
      const std::int64_t value = static_cast<std::int64_t>(previousOffset) + delta;
      if (value < 0 || value > 0xFFFFFFFFll) return Damaged(L"piece offset");
      piece.localOffset = static_cast<std::uint32_t>(value);
      previousOffset = piece.localOffset;
      ++centrals;
    }
    piece.hash = in.U(kHashBytes);
    if (in.Short()) return Damaged(L"too short");
    const std::uint64_t least = piece.kind == PieceKind::kEntry     ? kLocalHeaderSize
                                : piece.kind == PieceKind::kCentral ? kCentralHeaderSize
                                                                    : 1;
    if (piece.length < least || piece.length > index.packageLength - offset) return Damaged(L"piece length");
    if (piece.kind == PieceKind::kEntry) entryTimes.push_back(piece.dosTime);
    if (timed) {
      previousTime = piece.dosTime;
      hasPreviousTime = true;
    }
    offset += piece.length;
    index.pieces.push_back(piece);
  }
  if (offset != index.packageLength) return Damaged(L"pieces do not cover the package");
  if (in.Left() != 0) return Damaged(L"bytes after the pieces");
  return index;
}

void PutHiddenFields(const Piece& piece, std::uint64_t at, std::uint8_t* plain, std::size_t size) {
  ForHiddenFields(piece.kind, [&](std::uint64_t fieldAt, std::uint32_t Piece::*field) {
    for (unsigned i = 0; i < 4; ++i) {
      const std::uint64_t in = fieldAt + i;
      if (in < at || in - at >= size) continue;
      plain[in - at] = static_cast<std::uint8_t>((piece.*field >> (8 * i)) & 0xFF);
    }
  });
}

}  // namespace block_index
