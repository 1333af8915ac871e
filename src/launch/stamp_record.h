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

namespace launch {

// How far a file's last change must lie before the moment its stamp was taken. It covers
// the coarsest clock of the file systems in use (FAT keeps the modification time in 2 s
// steps; NTFS and ext4 in steps of a system tick).
constexpr std::int64_t kStampSettleTicks = 2 * platform::kStampTicksPerSecond;

// Whether `stamp`, taken no earlier than `takenAt` (StampClockNow() read before StampOf),
// can vouch for the file's bytes: its modification and change times both lie at least
// kStampSettleTicks before takenAt.
bool StampIsSettled(const platform::FileStamp& stamp, std::int64_t takenAt);

// A record file: its kind and named values, ASCII. Stamps and numbers are values too.
class StampRecord {
 public:
  explicit StampRecord(std::string kind) : kind_(std::move(kind)) {}

  void Set(const std::string& name, const std::string& value);
  void SetNumber(const std::string& name, std::int64_t value);
  void SetStamp(const std::string& name, const platform::FileStamp& stamp);
  // Nothing when the record has no such value or it is not of the asked shape.
  std::optional<std::string> Get(const std::string& name) const;
  std::optional<std::int64_t> GetNumber(const std::string& name) const;
  std::optional<platform::FileStamp> GetStamp(const std::string& name) const;

  // Replaces the record file in one step (written beside it, flushed, renamed over it).
  bool Write(const std::wstring& path) const;
  // The values of the file; false (and no values) unless the file is a whole record of
  // this kind: a torn or foreign file vouches for nothing.
  bool Read(const std::wstring& path);

 private:
  std::string kind_;
  std::vector<std::pair<std::string, std::string>> values_;
};

// What a record says of the files it names, given their stamps now.
enum class RecordVouches {
  kNothing,    // no whole record of its kind, or a file's stamp is not the recorded one
  kUnsettled,  // the stamps are the recorded ones but were too fresh to prove the bytes
  kSettled,    // the stamps are the recorded ones and had settled: the bytes are as read
};

// A file named in a record, with its stamp as just taken.
struct StampedFile {
  std::string name;
  platform::FileStamp stamp;
};

// The one way the launcher trusts what it learnt from files' bytes on an earlier run: the
// record at `path`, of the kind of *record, must hold "taken" (StampClockNow() read before
// the stamps were taken) and, under each file's name, that file's current stamp. The
// record's values are in *record afterwards (whatever the answer).
RecordVouches CheckRecord(const std::wstring& path, const std::vector<StampedFile>& files, StampRecord* record);

// Writes *record with "taken" and the files' stamps, in one step. A record that cannot be
// written is removed: an older one must not go on vouching for bytes that have changed.
void WriteRecord(const std::wstring& path, StampRecord record, std::int64_t takenAt,
                 const std::vector<StampedFile>& files);

}  // namespace launch
