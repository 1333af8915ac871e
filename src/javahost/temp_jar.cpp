#include "javahost/temp_jar.h"

#include <cstring>
#include <memory>

#include "base/text.h"
#include "branding.h"
#include "diagnostics/log.h"
#include "platform/atomic_file.h"
#include "launch/stamp_record.h"
#include "platform/platform.h"

namespace {

// The stored jar moves through a buffer of this size: the launch's memory does not grow
// with the jar.
constexpr std::size_t kChunk = 1 << 20;
const char kRecordKind[] = "temp-jar-state 1";

void Unscramble(std::uint8_t* bytes, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) bytes[i] ^= branding::kJarKey;
}

// Copies the stored jar, unscrambled, into a new file; flushed when a record will vouch
// for it. A file that could not be written whole is removed.
bool CopyUnscrambled(platform::File& storedJar, const std::wstring& target, bool flush, platform::Error* err) {
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kChunk]);
  platform::File out;
  if (!storedJar.Seek(0, err) || !out.Open(target, platform::OpenMode::kCreateNewExclusive, err)) return false;
  bool ok = true;
  for (;;) {
    std::size_t got = 0;
    if (!storedJar.ReadFull(buffer.get(), kChunk, &got, err)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    Unscramble(buffer.get(), got);
    if (!out.Write(buffer.get(), got, err)) {
      ok = false;
      break;
    }
  }
  if (ok && flush) ok = out.FlushToDisk(err);
  out.Close();
  if (!ok) platform::RemoveFile(target);
  return ok;
}

// Whether `path` holds exactly the stored jar's unscrambled bytes, compared chunk by chunk.
bool HoldsUnscrambled(platform::File& storedJar, const std::wstring& path, const platform::FileStamp& expected) {
  platform::File temp;
  platform::FileStamp stamp;
  if (!storedJar.Seek(0) || !temp.Open(path, platform::OpenMode::kReadDenyWriters) ||
      !platform::StampOf(temp, &stamp) || !(stamp == expected)) {
    return false;
  }
  std::unique_ptr<std::uint8_t[]> stored(new std::uint8_t[kChunk]), plain(new std::uint8_t[kChunk]);
  for (;;) {
    std::size_t a = 0, b = 0;
    if (!storedJar.ReadFull(stored.get(), kChunk, &a) || !temp.ReadFull(plain.get(), kChunk, &b) || a != b) {
      return false;
    }
    if (a == 0) return true;
    Unscramble(stored.get(), a);
    if (std::memcmp(stored.get(), plain.get(), a) != 0) return false;
  }
}

enum class Currency { kProven, kCompared, kStale };

// Whether "_Temp-<hash>" holds the stored jar's bytes, as far as can be told without
// writing: by the record alone when both stamps are the recorded ones and had settled when
// they were taken, else (same stamps, too fresh to prove anything) by comparing the bytes,
// after which the record is renewed.
Currency CurrencyOf(platform::File& storedJar, const std::wstring& path, const std::wstring& recordPath) {
  std::int64_t now = platform::StampClockNow();
  platform::FileStamp stored, temp;
  launch::StampRecord record(kRecordKind);
  if (!platform::StampOf(storedJar, &stored) || !platform::StampOf(path, &temp)) return Currency::kStale;
  const std::vector<launch::StampedFile> files{{"stored", stored}, {"temp", temp}};
  switch (launch::CheckRecord(recordPath, files, &record)) {
    case launch::RecordVouches::kNothing:
      return Currency::kStale;
    case launch::RecordVouches::kSettled:
      return Currency::kProven;
    case launch::RecordVouches::kUnsettled:
      break;
  }
  platform::FileStamp after;
  if (!HoldsUnscrambled(storedJar, path, temp) || !platform::StampOf(storedJar, &after) || !(after == stored))
    return Currency::kStale;
  launch::WriteRecord(recordPath, launch::StampRecord(kRecordKind), now, files);
  return Currency::kCompared;
}

// A file of this launch's own beside the temporary jar, which nobody else writes.
std::wstring WriteOwnCopy(platform::File& storedJar, const std::wstring& path, platform::Error* err) {
  platform::RemoveStaleSiblings(path, L"run");
  std::wstring beside = platform::UniqueSiblingName(path, L"run");
  return CopyUnscrambled(storedJar, beside, false, err) ? beside : std::wstring();
}

void LogWriteFailure(const std::wstring& path, const platform::Error& err) {
  theLog.Write(L"write jar fail:%s", path);
  LogException(err);
}

}  // namespace

bool ReadJarFile(const std::wstring& fileName, std::vector<std::uint8_t>* bytes) {
  platform::File file;
  if (!file.Open(fileName, platform::OpenMode::kReadDenyWriters)) return false;
  std::int64_t length = file.Length();
  if (length <= 0) return false;
  bytes->assign(static_cast<std::size_t>(length), 0);
  std::size_t got = 0;
  if (!file.ReadFull(bytes->data(), bytes->size(), &got) || got != bytes->size()) {
    bytes->clear();  // a jar cut short would fail later in ways far harder to tell
    return false;
  }
  Unscramble(bytes->data(), bytes->size());
  return true;
}

std::wstring TempJarName(const std::wstring& workingFolder) {
  std::uint32_t hash = 2166136261u;
  for (unsigned char c : base::WideToUtf8(workingFolder)) {
    hash ^= c;
    hash *= 16777619u;
  }
  static const wchar_t kHex[] = L"0123456789abcdef";
  std::wstring name = L"_Temp-";
  for (int shift = 28; shift >= 0; shift -= 4) name += kHex[(hash >> shift) & 0xF];
  return name;
}

std::wstring WriteJarReplacing(const std::wstring& path, platform::File& storedJar, platform::Error* err) {
  // Jars written beside the temporary jar by copies that have ended are no longer in use,
  // nor is what a killed launch left half-written.
  platform::RemoveStaleSiblings(path, L"run");
  platform::RemoveStaleSiblings(path, L"part");
  std::wstring part = platform::UniqueSiblingName(path, L"part");
  if (!CopyUnscrambled(storedJar, part, true, err)) return {};
  if (platform::RenameOver(part, path, err)) return path;
  std::wstring beside = platform::UniqueSiblingName(path, L"run");
  if (platform::RenameOver(part, beside, err)) return beside;
  platform::RemoveFile(part);
  return {};
}

std::variant<TempJar, TempJarFailure> PrepareTempJar(const std::wstring& storedJar, const std::wstring& workingFolder,
                                                     const std::wstring& appDataFolder) {
  platform::File source;
  if (storedJar.empty() || !source.Open(storedJar, platform::OpenMode::kReadDenyWriters) || source.Length() <= 0)
    return TempJarFailure::kNoStoredJar;
  if (appDataFolder.empty()) {
    theLog.Write(L"SHGetSpecialFolderLocation fail !");
    return TempJarFailure::kNotWritten;
  }
  // The folder may not exist yet (a new Linux account has no ~/.local/share).
  platform::MakeDirectories(appDataFolder);
  const std::wstring path = platform::JoinPath(appDataFolder, TempJarName(workingFolder));
  const std::wstring recordPath = path + L".state";
  theLog.Write(L"%s", path);

  TempJar jar;
  platform::Error err;
  if (!jar.hold.Open(path + L".lock", platform::OpenMode::kOpenAlwaysShared, &err)) {
    LogWriteFailure(path, err);
    return TempJarFailure::kNotWritten;
  }

  if (jar.hold.TryLock(true)) {
    // No other launch of this installation runs from it or writes it now.
    Currency currency = CurrencyOf(source, path, recordPath);
    if (currency == Currency::kStale) {
      theLog.Write(L"write jar to:%s", path);
      std::int64_t takenAt = platform::StampClockNow();
      platform::FileStamp before, after, written;
      bool stamped = platform::StampOf(source, &before);
      std::wstring result = WriteJarReplacing(path, source, &err);
      if (result.empty()) {
        LogWriteFailure(path, err);
        return TempJarFailure::kNotWritten;
      }
      if (result != path) {
        // Held open by a copy of the application that runs without this lock (an older
        // launcher): this launch runs from a file of its own.
        theLog.Write(L"write jar to:%s", result);
        jar.hold.Close();
        jar.path = result;
        return jar;
      }
      // A stored jar that changed while it was read leaves no record: the next launch
      // writes the temporary jar again.
      if (stamped && platform::StampOf(source, &after) && after == before && platform::StampOf(path, &written)) {
        launch::WriteRecord(recordPath, launch::StampRecord(kRecordKind), takenAt,
                            {{"stored", before}, {"temp", written}});
      } else {
        platform::RemoveFile(recordPath);
      }
    } else {
      theLog.Write(currency == Currency::kProven ? L"reuse jar:%s" : L"reuse checked jar:%s", path);
    }
    // From writer to reader. The two steps leave a moment in which another launch may take
    // the lock and replace the file: then it is no longer the one just made sure of, and
    // this launch writes its own.
    platform::FileStamp mine, now;
    bool stamped = platform::StampOf(path, &mine);
    jar.hold.Unlock();
    if (stamped && jar.hold.TryLock(false) && platform::StampOf(path, &now) && now == mine) {
      jar.path = path;
      return jar;
    }
  } else if (jar.hold.TryLock(false)) {
    // Other launches run from it: it may be used as it is, never written.
    Currency currency = CurrencyOf(source, path, recordPath);
    if (currency != Currency::kStale) {
      theLog.Write(currency == Currency::kProven ? L"reuse jar:%s" : L"reuse checked jar:%s", path);
      jar.path = path;
      return jar;
    }
  }

  jar.hold.Close();
  std::wstring own = WriteOwnCopy(source, path, &err);
  if (own.empty()) {
    LogWriteFailure(path, err);
    return TempJarFailure::kNotWritten;
  }
  theLog.Write(L"write jar to:%s", own);
  jar.path = own;
  return jar;
}
