// What was learnt from the bytes of files (an MD5, that one file holds another's bytes),
// kept in a small record file and trusted again only while the files' stamps prove that
// their bytes are still the ones that were read.
//
// A stamp proves that only once it has settled: a change made within the same tick of the
// file system's clock as the change before it may leave every field of the stamp as it
// was (the "racy" case of version-control tools). So a record keeps the time at which its
// stamps were taken, and a stamp whose times lie too close to that moment vouches for
// nothing: the bytes are read again and the record renewed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace platform {

// How far a file's last change must lie before the moment its stamp was taken. It covers
// the coarsest clock of the file systems in use (FAT keeps the modification time in 2 s
// steps; NTFS and ext4 in steps of a system tick).
constexpr std::int64_t kStampSettleTicks = 2 * kStampTicksPerSecond;

// Whether `stamp`, taken no earlier than `takenAt` (StampClockNow() read before StampOf),
// can vouch for the file's bytes: its modification and change times both lie at least
// kStampSettleTicks before takenAt.
bool StampIsSettled(const FileStamp& stamp, std::int64_t takenAt);

// A record file: its kind and named values, ASCII. Stamps and numbers are values too.
class StampRecord {
 public:
  explicit StampRecord(std::string kind) : kind_(std::move(kind)) {}

  void Set(const std::string& name, const std::string& value);
  void SetNumber(const std::string& name, std::int64_t value);
  void SetStamp(const std::string& name, const FileStamp& stamp);
  // Nothing when the record has no such value or it is not of the asked shape.
  std::optional<std::string> Get(const std::string& name) const;
  std::optional<std::int64_t> GetNumber(const std::string& name) const;
  std::optional<FileStamp> GetStamp(const std::string& name) const;

  // Replaces the record file in one step (written beside it, flushed, renamed over it).
  bool Write(const std::wstring& path) const;
  // The values of the file; false (and no values) unless the file is a whole record of
  // this kind: a torn or foreign file vouches for nothing.
  bool Read(const std::wstring& path);

 private:
  std::string kind_;
  std::vector<std::pair<std::string, std::string>> values_;
};

}  // namespace platform
