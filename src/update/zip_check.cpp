#include "update/zip_check.h"

#include <algorithm>
#include <cstddef>
#include <memory>

#include "platform/platform.h"

namespace {

constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;

constexpr std::uint64_t kEndSize = 22;
constexpr std::uint64_t kCentralSize = 46;
constexpr std::uint64_t kLocalSize = 30;
constexpr std::uint64_t kZip64EndSize = 56;
constexpr std::uint64_t kZip64LocatorSize = 20;
constexpr std::uint64_t kMaxComment = 0xFFFF;

constexpr std::uint16_t kMagic16 = 0xFFFF;
constexpr std::uint32_t kMagic32 = 0xFFFFFFFF;

// Sizes of the readers' buffers: the whole region where the end record may lie; the
// directory, read header after header; single records and local headers, read here and
// there (local headers mostly in ascending order, so one read serves those of small entries).
constexpr std::size_t kTailBuffer = kEndSize + kMaxComment;
constexpr std::size_t kDirectoryBuffer = 64 * 1024;
constexpr std::size_t kScatteredBuffer = 4 * 1024;

// Positioned reads of the file, unscrambled, through a buffer of its own: what the check
// looks at lies close together, so one read of the file serves many values. The caller
// makes sure that a value lies inside the file; a read that fails all the same (an I/O
// error, a file cut meanwhile) gives zeros and marks the file unreadable, which fails the
// check whatever the values made of it.
class Reader {
 public:
  Reader(platform::File& file, std::uint64_t size, std::uint8_t key, std::size_t capacity, bool* unreadable)
      : file_(file), size_(size), key_(key), capacity_(capacity), buffer_(new std::uint8_t[capacity]),
        unreadable_(unreadable) {}

  std::uint64_t Size() const { return size_; }

  bool Holds(std::uint64_t at, std::uint64_t count) const {
    return at >= start_ && at - start_ <= length_ && length_ - (at - start_) >= count;
  }

  // Fills the buffer from `at` on, as far as it reaches or the file goes.
  bool Load(std::uint64_t at) {
    length_ = 0;
    if (at > size_) return false;
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(capacity_, size_ - at));
    if (!file_.Seek(static_cast<std::int64_t>(at))) return false;
    for (std::size_t done = 0; done < count;) {
      std::size_t got = 0;
      if (!file_.Read(buffer_.get() + done, count - done, &got) || got == 0) return false;
      done += got;
    }
    for (std::size_t i = 0; i < count; ++i) buffer_[i] ^= key_;
    start_ = at;
    length_ = count;
    return true;
  }

  // Little-endian values.
  std::uint16_t U16(std::uint64_t at) {
    const std::uint8_t* p = At(at, 2);
    return p ? static_cast<std::uint16_t>(p[0] | (p[1] << 8)) : 0;
  }
  std::uint32_t U32(std::uint64_t at) {
    return static_cast<std::uint32_t>(U16(at)) | (static_cast<std::uint32_t>(U16(at + 2)) << 16);
  }
  std::uint64_t U64(std::uint64_t at) {
    return static_cast<std::uint64_t>(U32(at)) | (static_cast<std::uint64_t>(U32(at + 4)) << 32);
  }
  bool HasSignature(std::uint64_t at, std::uint32_t signature) {
    return at <= size_ && size_ - at >= 4 && U32(at) == signature;
  }

 private:
  const std::uint8_t* At(std::uint64_t at, std::size_t count) {
    if (!Holds(at, count) && (!Load(at) || length_ < count)) {
      *unreadable_ = true;
      return nullptr;
    }
    return buffer_.get() + (at - start_);
  }

  platform::File& file_;
  const std::uint64_t size_;
  const std::uint8_t key_;
  const std::size_t capacity_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::uint64_t start_ = 0;
  std::size_t length_ = 0;
  bool* unreadable_;
};

// What an end record says about its central directory.
struct Directory {
  std::uint64_t entries = 0;
  bool entriesWrapped = false;  // a 16-bit count: writers let it overflow
  std::uint64_t size = 0;
  std::uint64_t offset = 0;     // as recorded: from the archive's start
  std::uint64_t end = 0;        // where the directory must end: the (zip64) end record
};

// The directory an end record at `at` (in `tail`) describes, when the record agrees with
// itself and with the bytes around it; otherwise nothing, with the reason. Records outside
// the tail are read through `scattered`.
const wchar_t* ReadEndRecord(Reader& tail, Reader& scattered, std::uint64_t at, Directory* dir) {
  std::uint16_t disk = tail.U16(at + 4);
  std::uint16_t directoryDisk = tail.U16(at + 6);
  std::uint16_t entriesHere = tail.U16(at + 8);
  std::uint16_t entries = tail.U16(at + 10);
  std::uint32_t size = tail.U32(at + 12);
  std::uint32_t offset = tail.U32(at + 16);
  std::uint16_t comment = tail.U16(at + 20);
  if (tail.Size() - at - kEndSize < comment) return L"the archive's comment runs past the end";

  // A zip64 locator right before the record (Java looks there whatever the record holds).
  const std::uint64_t locator = at >= kZip64LocatorSize ? at - kZip64LocatorSize : 0;
  Reader& near = tail.Holds(locator, kZip64LocatorSize) ? tail : scattered;
  if (at >= kZip64LocatorSize && near.HasSignature(locator, kZip64LocatorSignature)) {
    std::uint64_t record = near.U64(locator + 8);
    if (near.U32(locator + 4) != 0) return L"archive spans several disks";
    if (record > locator || locator - record < kZip64EndSize || !scattered.HasSignature(record, kZip64EndSignature))
      return L"zip64 locator without its record";
    std::uint32_t disk64 = scattered.U32(record + 16);
    std::uint32_t directoryDisk64 = scattered.U32(record + 20);
    std::uint64_t entriesHere64 = scattered.U64(record + 24);
    std::uint64_t entries64 = scattered.U64(record + 32);
    std::uint64_t size64 = scattered.U64(record + 40);
    std::uint64_t offset64 = scattered.U64(record + 48);
    // The short fields repeat the long ones, or hold their all-ones marker.
    if ((disk != kMagic16 && disk != disk64) || (directoryDisk != kMagic16 && directoryDisk != directoryDisk64) ||
        (entriesHere != kMagic16 && entriesHere != entriesHere64) || (entries != kMagic16 && entries != entries64) ||
        (size != kMagic32 && size != size64) || (offset != kMagic32 && offset != offset64))
      return L"zip64 record against the end record";
    if (disk64 != 0 || directoryDisk64 != 0) return L"archive spans several disks";
    if (entriesHere64 != entries64) return L"entry counts disagree";
    *dir = Directory{entries64, false, size64, offset64, record};
    return nullptr;
  }

  // An all-ones size or offset stands for a value in the zip64 record, which is not there
  // (0xFFFF entries may be a plain count).
  if (size == kMagic32 || offset == kMagic32) return L"zip64 values without a zip64 record";
  if (disk != 0 || directoryDisk != 0) return L"archive spans several disks";
  if (entriesHere != entries) return L"entry counts disagree";
  *dir = Directory{entries, true, size, offset, at};
  return nullptr;
}

// Where the directory starts, when it holds one entry or more (an archive without any is
// no library, and any page that happens to end in the 22 bytes of an empty archive's end
// record would be one), fits before its end record and starts after the offset it names;
// otherwise nothing, with the reason.
const wchar_t* LocateDirectory(Reader& central, const Directory& dir, std::uint64_t* start) {
  if (dir.size == 0) return L"no entries";
  if (dir.size > dir.end) return L"central directory outside the file";
  std::uint64_t at = dir.end - dir.size;
  if (dir.offset > at) return L"central directory outside the file";
  if (dir.size < kCentralSize || !central.HasSignature(at, kCentralSignature))
    return L"no central file header where the directory starts";
  *start = at;
  return nullptr;
}

// Walks the central file headers: they must fill the directory exactly, number as many as
// the end record says and each point at a local file header before the directory. Nothing
// when they do; the reason otherwise.
const wchar_t* CheckDirectory(Reader& central, Reader& locals, const Directory& dir, std::uint64_t start,
                              const bool& unreadable, const std::function<void(const ZipCentralRecord&)>& onRecord) {
  std::uint64_t base = start - dir.offset;  // bytes before the archive
  std::uint64_t count = 0;
  for (std::uint64_t at = start; at < dir.end && !unreadable; ++count) {
    if (dir.end - at < kCentralSize || central.U32(at) != kCentralSignature) return L"central directory damaged";
    std::uint64_t length = kCentralSize + central.U16(at + 28) + static_cast<std::uint64_t>(central.U16(at + 30)) +
                           central.U16(at + 32);
    if (dir.end - at < length) return L"central directory damaged";
    std::uint32_t local = central.U32(at + 42);
    // All ones: the offset is in the entry's zip64 field, which is not worth parsing here.
    if (local != kMagic32) {
      if (local > start - base || start - base - local < kLocalSize || locals.U32(base + local) != kLocalSignature)
        return L"an entry without its local file header";
    }
    if (onRecord && !unreadable)
      onRecord(ZipCentralRecord{at, length, local == kMagic32 ? kZipOffsetInZip64Field : base + local});
    at += length;
  }
  if (dir.entriesWrapped ? (count & 0xFFFF) != dir.entries : count != dir.entries)
    return L"entry count against the central directory";
  return nullptr;
}

bool Fail(std::wstring* why, const std::wstring& reason) {
  if (why) *why = reason;
  return false;
}

}  // namespace

base::Result<ZipDirectoryBounds> WalkWholeZip(platform::File& file, std::uint8_t xorKey,
                                               const std::function<void(const ZipCentralRecord&)>& onRecord) {
  auto invalid = [](const std::wstring& reason) { return base::MakeFailure(base::Failure::Kind::kInvalid, reason); };
  const std::int64_t length = file.Length();
  if (length < 0) return base::MakeFailure(base::Failure::Kind::kSystem, L"cannot read the file");
  const std::uint64_t size = static_cast<std::uint64_t>(length);
  if (size < kEndSize) return invalid(L"too short for a zip archive");

  bool unreadable = false;
  Reader tail(file, size, xorKey, kTailBuffer, &unreadable);
  Reader central(file, size, xorKey, kDirectoryBuffer, &unreadable);
  Reader scattered(file, size, xorKey, kScatteredBuffer, &unreadable);
  Reader locals(file, size, xorKey, kScatteredBuffer, &unreadable);

  const std::uint64_t last = size - kEndSize;
  const std::uint64_t first = last > kMaxComment ? last - kMaxComment : 0;
  if (!tail.Load(first)) return base::MakeFailure(base::Failure::Kind::kSystem, L"cannot read the file");
  // The record nearest the end that agrees with the bytes around it is the archive's end;
  // an earlier one would be part of its comment. Only that one's directory is walked, so
  // a tail full of look-alike records costs no more than one walk.
  const wchar_t* reason = nullptr;
  for (std::uint64_t at = last + 1; at-- > first && !unreadable;) {
    if (tail.U32(at) != kEndSignature) continue;
    Directory dir;
    std::uint64_t start = 0;
    const wchar_t* refused = ReadEndRecord(tail, scattered, at, &dir);
    if (!refused) refused = LocateDirectory(central, dir, &start);
    if (refused) {
      // The record nearest the end tells best what is wrong with the archive.
      if (!reason) reason = refused;
      continue;
    }
    const wchar_t* damaged = CheckDirectory(central, locals, dir, start, unreadable, onRecord);
    if (unreadable) break;
    if (damaged) return invalid(damaged);
    return ZipDirectoryBounds{start, dir.end};
  }
  if (unreadable) return base::MakeFailure(base::Failure::Kind::kSystem, L"cannot read the file");
  return invalid(reason ? reason : L"no end of central directory");
}

bool IsWholeZipFile(const std::wstring& path, std::uint8_t xorKey, std::wstring* why) {
  platform::File file;
  platform::Error err;
  if (!file.Open(path, platform::OpenMode::kReadShared, &err)) return Fail(why, err.message);
  base::Result<ZipDirectoryBounds> walked = WalkWholeZip(file, xorKey, {});
  return walked ? true : Fail(why, walked.failure().reason);
}
