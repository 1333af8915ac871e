#include "update/file_hash_cache.h"

#include <optional>

#include "base/decimal.h"
#include "base/text.h"
#include "launch/stamp_record.h"
#include "platform/platform.h"
#include "update/md5_checksum.h"

namespace {

const char kRecordKind[] = "file-md5-state 1";

void WriteMd5Record(const std::wstring& path, const platform::FileStamp& stamp, std::int64_t takenAt,
                    const std::wstring& md5) {
  launch::StampRecord record(kRecordKind);
  record.Set("md5", base::WideToUtf8(md5));
  launch::WriteRecord(FileMd5RecordPath(path), std::move(record), takenAt, {{"file", stamp}});
}

}  // namespace

std::wstring FileMd5RecordPath(const std::wstring& path) { return path + L".state"; }

std::wstring FileMd5(const std::wstring& path) {
  platform::FileStamp stamp;
  launch::StampRecord record(kRecordKind);
  if (platform::StampOf(path, &stamp) &&
      launch::CheckRecord(FileMd5RecordPath(path), {{"file", stamp}}, &record) == launch::RecordVouches::kSettled) {
    std::optional<std::string> md5 = record.Get("md5");
    if (md5 && base::IsMd5Hex(*md5)) return base::Utf8ToWide(*md5);
  }

  std::int64_t takenAt = platform::StampClockNow();
  platform::File file;
  platform::FileStamp before, after;
  if (!file.Open(path, platform::OpenMode::kReadDenyWriters) || !platform::StampOf(file, &before)) return {};
  std::optional<std::wstring> md5 = CMD5Checksum::GetMD5(file);
  if (!md5) return {};
  if (platform::StampOf(file, &after) && after == before) WriteMd5Record(path, before, takenAt, *md5);
  return *md5;
}

void RememberFileMd5(const std::wstring& path, const std::wstring& md5) {
  std::int64_t takenAt = platform::StampClockNow();
  platform::FileStamp stamp;
  if (platform::StampOf(path, &stamp) && base::IsMd5Hex(md5)) {
    WriteMd5Record(path, stamp, takenAt, md5);
  } else {
    platform::RemoveFile(FileMd5RecordPath(path));
  }
}
