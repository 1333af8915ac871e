#include "update/file_hash_cache.h"

#include <optional>

#include "base/text.h"
#include "platform/platform.h"
#include "platform/stamp_record.h"
#include "update/md5_checksum.h"

namespace {

const char kRecordKind[] = "file-md5-state 1";

bool IsMd5Text(const std::string& text) {
  if (text.size() != 32) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

void WriteRecord(const std::wstring& path, const platform::FileStamp& stamp, std::int64_t takenAt,
                 const std::wstring& md5) {
  platform::StampRecord record(kRecordKind);
  record.SetNumber("taken", takenAt);
  record.SetStamp("file", stamp);
  record.Set("md5", base::WideToUtf8(md5));
  if (!record.Write(FileMd5RecordPath(path))) platform::RemoveFile(FileMd5RecordPath(path));
}

}  // namespace

std::wstring FileMd5RecordPath(const std::wstring& path) { return path + L".state"; }

std::wstring FileMd5(const std::wstring& path) {
  platform::FileStamp stamp;
  platform::StampRecord record(kRecordKind);
  if (platform::StampOf(path, &stamp) && record.Read(FileMd5RecordPath(path))) {
    std::optional<platform::FileStamp> recorded = record.GetStamp("file");
    std::optional<std::int64_t> recordedAt = record.GetNumber("taken");
    std::optional<std::string> md5 = record.Get("md5");
    if (recorded && recordedAt && md5 && IsMd5Text(*md5) && *recorded == stamp &&
        platform::StampIsSettled(stamp, *recordedAt)) {
      return base::Utf8ToWide(*md5);
    }
  }

  std::int64_t takenAt = platform::StampClockNow();
  platform::File file;
  platform::FileStamp before, after;
  if (!file.Open(path, platform::OpenMode::kReadDenyWriters) || !platform::StampOf(file, &before)) return {};
  std::optional<std::wstring> md5 = CMD5Checksum::GetMD5(file);
  if (!md5) return {};
  if (platform::StampOf(file, &after) && after == before) WriteRecord(path, before, takenAt, *md5);
  return *md5;
}

void RememberFileMd5(const std::wstring& path, const std::wstring& md5) {
  std::int64_t takenAt = platform::StampClockNow();
  platform::FileStamp stamp;
  if (platform::StampOf(path, &stamp) && IsMd5Text(base::WideToUtf8(md5))) {
    WriteRecord(path, stamp, takenAt, md5);
  } else {
    platform::RemoveFile(FileMd5RecordPath(path));
  }
}
