// Whether a downloaded file is a whole zip archive (a jar is one), checked before a library
// is stored and before a package replaces the jar: an error page answered with 200, a body
// cut short by a closed connection, an empty answer or a package scrambled with another key
// is not one, and a library once stored would never be fetched again.
//
// The file is read only where the archive describes itself (its last 64 KiB + 22 bytes, the
// central directory and the first bytes of each local file header), through a few small
// fixed buffers: a downloaded file of any size is checked without being read whole.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/result.h"
#include "platform/platform.h"

// True when, with every byte XOR-ed with `xorKey` first (0: the file as it is; the jar key:
// a scrambled package), the file holds a zip archive whose end is there and agrees with
// itself:
//  - an end-of-central-directory record (its signature within the last 64 KiB + 22 bytes),
//    whose comment ends inside the file, of an archive on one disk, with as many entries
//    on this disk as in all; with a zip64 locator before it, the zip64 record it points to;
//  - a central directory of one entry or more, of the size it names, right before that
//    record (where Java's zip reader looks for it too, so that bytes before the archive,
//    such as a launcher stub, are fine), starting at or after the offset it names;
//  - central file headers (signature 0x02014b50) filling it exactly, as many as the record
//    counts (modulo 65536 without zip64, as writers that overflow the 16-bit count leave
//    it), each pointing at a local file header (signature 0x04034b50) before the directory.
// Entry data is not decompressed and checksums are not computed. False otherwise, and when
// the file cannot be read, with the reason for the log in *why.
bool IsWholeZipFile(const std::wstring& path, std::uint8_t xorKey, std::wstring* why = nullptr);

// One central file header of a whole archive, as the check walks them in their order.
struct ZipCentralRecord {
  std::uint64_t offset = 0;  // of the header in the file
  std::uint64_t length = 0;  // 46 bytes and its name, extra field and comment
  // Where its local file header starts in the file (bytes before the archive counted);
  // kZipOffsetInZip64Field when the header keeps it in its zip64 field, which the check
  // does not read.
  std::uint64_t localHeader = 0;
};
constexpr std::uint64_t kZipOffsetInZip64Field = ~std::uint64_t{0};

// Where the central directory of a whole archive lies in the file: its records fill
// [start, end), and `end` is where the (zip64) end record starts.
struct ZipDirectoryBounds {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
};

// The check of IsWholeZipFile on an open file, which also hands each central file header
// to `onRecord` (may be empty) as it is checked: a failure can come after some of them,
// whose values the caller then drops. The file's position is left anywhere.
base::Result<ZipDirectoryBounds> WalkWholeZip(platform::File& file, std::uint8_t xorKey,
                                               const std::function<void(const ZipCentralRecord&)>& onRecord);
