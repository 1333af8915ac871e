#include "update/file_hash_cache.h"

#include <optional>

#include "base/decimal.h"
#include "base/der_pem.h"
#include "base/text.h"
#include "launch/stamp_record.h"
#include "platform/crypto.h"
#include "platform/platform.h"
#include "update/md5_checksum.h"

namespace {

const char kRecordKind[] = "file-md5-state 1";

struct Digest {
  const char* name;    // the record's value
  std::size_t digits;  // hex digits
};
constexpr Digest kMd5{"md5", 32};
constexpr Digest kSha256{"sha256", 64};

bool IsHexOf(const std::string& text, const Digest& digest) {
  if (&digest == &kMd5) return base::IsMd5Hex(text);
  if (text.size() != digest.digits) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

// The digests that a record holds for a stamp, by name.
struct Known {
  std::optional<std::string> md5;
  std::optional<std::string> sha256;
  std::optional<std::string>& Of(const Digest& d) { return &d == &kMd5 ? md5 : sha256; }
};

void WriteDigests(const std::wstring& path, const platform::FileStamp& stamp, std::int64_t takenAt,
                  const Known& known) {
  launch::StampRecord record(kRecordKind);
  if (known.md5) record.Set(kMd5.name, *known.md5);
  if (known.sha256) record.Set(kSha256.name, *known.sha256);
  launch::WriteRecord(FileMd5RecordPath(path), std::move(record), takenAt, {{"file", stamp}});
}

// What the record proves of the file as it is now: nothing unless its stamp is the file's
// and had settled when it was taken.
Known KnownFromRecord(const std::wstring& path, const platform::FileStamp& stamp) {
  Known known;
  launch::StampRecord record(kRecordKind);
  if (launch::CheckRecord(FileMd5RecordPath(path), {{"file", stamp}}, &record) != launch::RecordVouches::kSettled)
    return known;
  for (const Digest* d : {&kMd5, &kSha256}) {
    std::optional<std::string> value = record.Get(d->name);
    if (value && IsHexOf(*value, *d)) known.Of(*d) = value;
  }
  return known;
}

std::optional<std::string> Compute(platform::File& file, const Digest& digest) {
  if (&digest == &kMd5) {
    std::optional<std::wstring> md5 = CMD5Checksum::GetMD5(file);
    if (!md5) return std::nullopt;
    return base::WideToUtf8(*md5);
  }
  platform::Sha256 sha;
  std::uint8_t block[64 * 1024];
  for (;;) {
    std::size_t got = 0;
    if (!file.Read(block, sizeof block, &got)) return std::nullopt;
    if (got == 0) break;
    sha.Update(block, got);
  }
  if (!sha.Ok()) return std::nullopt;
  platform::Sha256Digest d = sha.Finish();
  return base::HexLower(d.data(), d.size());
}

std::wstring CachedDigest(const std::wstring& path, const Digest& digest) {
  platform::FileStamp stamp;
  Known known;
  if (platform::StampOf(path, &stamp)) {
    known = KnownFromRecord(path, stamp);
    if (known.Of(digest)) return base::Utf8ToWide(*known.Of(digest));
  }

  std::int64_t takenAt = platform::StampClockNow();
  platform::File file;
  platform::FileStamp before, after;
  if (!file.Open(path, platform::OpenMode::kReadDenyWriters) || !platform::StampOf(file, &before)) return {};
  std::optional<std::string> value = Compute(file, digest);
  if (!value) return {};
  // What the record knew of another digest holds only for the stamp it was learnt for.
  if (!(before == stamp)) known = Known{};
  known.Of(digest) = value;
  if (platform::StampOf(file, &after) && after == before) WriteDigests(path, before, takenAt, known);
  return base::Utf8ToWide(*value);
}

}  // namespace

std::wstring FileMd5RecordPath(const std::wstring& path) { return path + L".state"; }

std::wstring FileMd5(const std::wstring& path) { return CachedDigest(path, kMd5); }

std::wstring FileSha256(const std::wstring& path) { return CachedDigest(path, kSha256); }

void RememberFileDigests(const std::wstring& path, const std::wstring& md5, const std::wstring& sha256) {
  std::int64_t takenAt = platform::StampClockNow();
  platform::FileStamp stamp;
  Known known;
  std::string md5Text = base::WideToUtf8(md5), shaText = base::WideToUtf8(sha256);
  if (IsHexOf(md5Text, kMd5)) known.md5 = md5Text;
  if (IsHexOf(shaText, kSha256)) known.sha256 = shaText;
  if ((known.md5 || known.sha256) && platform::StampOf(path, &stamp)) {
    WriteDigests(path, stamp, takenAt, known);
  } else {
    platform::RemoveFile(FileMd5RecordPath(path));
  }
}

void RememberFileMd5(const std::wstring& path, const std::wstring& md5) { RememberFileDigests(path, md5, L""); }
