// The one door to the operating system. Everything above this header is shared by the
// Windows and the Linux launcher; win32/ and posix/ each implement it once.
//
// Text: std::wstring throughout (UTF-16 on Windows, UTF-32 on Linux). Paths use the
// platform's own separator (kPathSeparator). Failures come back as values: a false or
// empty result plus, where the caller wants to log it, an Error with the system's text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "platform/paths.h"

namespace platform {

// A failed system call: its code and the system's own message for it.
struct Error {
  std::uint32_t code = 0;
  std::wstring message;
};

// Fills *err (when given) with a failure the caller describes itself; always false, so that
// a failing path can end with `return SetFailure(err, ...)`.
inline bool SetFailure(Error* err, Error failure) {
  if (err != nullptr) *err = std::move(failure);
  return false;
}
inline bool SetFailure(Error* err, std::wstring message, std::uint32_t code = 0) {
  return SetFailure(err, Error{code, std::move(message)});
}

// Fills *err (when given) from the calling thread's last system error (errno / GetLastError).
void SetLastSystemError(Error* err);

// --- Process and folders -------------------------------------------------------------

// Full path of the running executable, at whatever length the system reports it.
std::wstring ExecutablePath();

// The executable's file name without its extension: the HTTP user agent.
inline std::wstring ProgramName() {
  std::wstring name = FileNameOf(ExecutablePath());
  std::size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos && dot > 0) name.resize(dot);
  return name;
}

// The user's Documents folder, without a trailing separator; empty when there is none.
std::wstring DocumentsFolder();

// The user's local application data folder, without a trailing separator; empty when none.
std::wstring LocalAppDataFolder();

bool IsDirectory(const std::wstring& path);
// One level. On Linux the new folder is its user's alone (0700): what the launcher keeps
// there is nobody else's to read or to replace.
bool MakeDirectory(const std::wstring& path);
// The folder and every missing folder above it; true when it exists afterwards.
bool MakeDirectories(const std::wstring& path);
bool ChangeCurrentDirectory(const std::wstring& path);
std::wstring CurrentDirectory();

// The product version compiled into (Linux) or read from the resources of (Windows) the
// running executable. False when it has none.
bool ProgramVersion(std::uint16_t out[4]);

// --- Text ----------------------------------------------------------------------------

// To and from the system's ANSI code page (Windows) or UTF-8 (Linux). Characters the
// code page cannot hold become its default character.
std::string WideToAnsi(const std::wstring& text);
// From the calling thread's ANSI code page (Windows) or UTF-8 (Linux).
std::wstring ThreadAnsiToWide(const std::string& bytes);
// A path as the ANSI code page (UTF-8 on Linux) text with which other programs find the
// file. On Windows a path the code page cannot represent is given by its short (8.3) name,
// where the volume has one, rather than as question marks.
std::string PathInAnsiCodePage(const std::wstring& path);
// UTF-8, whatever the platform, is base::WideToUtf8 / base::Utf8ToWide (base/text.h).

// --- Time, output --------------------------------------------------------------------

std::tm LocalTimeNow();
// Bytes to the process's standard output / standard error, unbuffered.
void WriteStdout(const std::string& bytes);
void WriteStderr(const std::string& bytes);
// Ends the process at once with the code, without running static destructors while
// another thread (the update worker) may still be using what they destroy.
[[noreturn]] void ExitProcessNow(int code);
unsigned long ProcessId();
// Whether a process with that id exists now (ids are reused: a yes may be another process).
bool ProcessIsRunning(unsigned long pid);
// `size` bytes from the system's cryptographic random number generator (getrandom on
// Linux, BCryptGenRandom on Windows). False, with the buffer unspecified, when it fails.
bool RandomBytes(void* out, std::size_t size);

// --- Files ---------------------------------------------------------------------------

// Every mode that can make a file makes it without following a link at its name (a
// symbolic link, on Windows any reparse point): nothing the launcher writes ever lands in a
// file that someone else named.
enum class OpenMode {
  kReadExclusive,        // existing file, reading, no other opener admitted meanwhile
  kReadShared,           // existing file, reading, others may read and write
  // A new file, writing, no other opener admitted. Fails when anything stands at the name
  // already (a file, a folder, a link, even one that points nowhere): for temporary files,
  // whose names nobody can guess (UniqueSiblingName).
  kCreateNewExclusive,
  // Existing or new regular file, reading and writing from its start, content kept, others
  // may open it too: a lock file, never truncated. A link or anything but a regular file
  // in its place is removed and a new file made instead; what a link points to is never
  // opened.
  kOpenAlwaysShared,
  // Existing or new file, reading and writing from its start, content kept; no other
  // opener of this mode admitted meanwhile (Windows: no sharing at all; Linux: an advisory
  // lock that only this mode honours). For a file that one process at a time continues.
  // A link, a second name of another file or anything but a regular file in its place is
  // removed and a new empty file made instead.
  kReadWriteKeepLocked,
  // Existing file, reading; other readers are admitted, but nobody may write, replace or
  // delete it meanwhile (Windows: FILE_SHARE_READ only; Linux has no share modes: a plain
  // read).
  kReadDenyWriters,
  // A file of its own for a log that several processes may write at once: existing or
  // new, content kept, others may open it too, and every Write goes to the end of the file
  // in one piece, after whatever others appended. When the name is a symbolic link (on
  // Windows any reparse point), a hard link to a file of more than one name, or anything
  // but a regular file, that name is removed and a new empty file made in its place; the
  // file a link pointed to is left as it was.
  kAppendSharedOwnFile,
};

class File {
 public:
  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;

  bool Open(const std::wstring& path, OpenMode mode, Error* err = nullptr);
  bool IsOpen() const;
  // Reads up to `size` bytes; *got is 0 at the end of the file. False on a read error.
  bool Read(void* buffer, std::size_t size, std::size_t* got, Error* err = nullptr);
  // Reads until the buffer is full or the file ends: *got < size only at the end.
  bool ReadFull(void* buffer, std::size_t size, std::size_t* got, Error* err = nullptr);
  // Writes all `size` bytes or fails.
  bool Write(const void* data, std::size_t size, Error* err = nullptr);
  // Size in bytes, or -1 on failure.
  std::int64_t Length();
  // Moves the position for the next Read or Write to `offset` bytes from the start.
  bool Seek(std::int64_t offset, Error* err = nullptr);
  // Cuts the file to `size` bytes (or extends it with zeros); the position moves to the end.
  bool Resize(std::int64_t size, Error* err = nullptr);
  // Pushes written bytes to the disk itself, not only to the system's cache.
  bool FlushToDisk(Error* err = nullptr);
  // An advisory lock on the file without waiting: shared ones live beside each other, an
  // exclusive one beside none. Held until Unlock or Close (or the process ends); false when
  // another open of the file (in this process too) holds a lock that excludes it. Locks
  // only keep out other lockers, never readers or writers.
  bool TryLock(bool exclusive);
  // The same, waiting for as long as another holder keeps a lock that excludes it. False
  // only when the system refuses the lock (not a file that can be locked).
  bool Lock(bool exclusive);
  void Unlock();
  // Advisory locks on single bytes far beyond any content, numbered from 0: each slot is
  // a lock of its own, independent of the others and of TryLock's, with the same rules
  // (shared beside shared, exclusive alone, another open of the file in this process
  // counts as another holder). Held until UnlockSlot or Close; no wait.
  bool TryLockSlot(int slot, bool exclusive);
  void UnlockSlot(int slot);
  void Close();
#ifdef _WIN32
  void* NativeHandle() const { return handle_; }
#else
  int NativeHandle() const { return fd_; }
#endif

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
  bool append_ = false;  // opened kAppendSharedOwnFile
};

// Renames `from` over `to`, replacing it in one step: afterwards `to` is either the old
// or the new file, never a mix. False (and `to` untouched) when that cannot be done.
bool RenameOver(const std::wstring& from, const std::wstring& to, Error* err = nullptr);
// The room on the volume that holds `folder`: the bytes this user may still write there
// and the volume's whole size. False when the system cannot tell.
bool VolumeSpace(const std::wstring& folder, std::int64_t* available, std::int64_t* total);
bool RemoveFile(const std::wstring& path);
// Names of the entries of a folder ("" is the current one), without "." and "..".
std::vector<std::wstring> ListDirectory(const std::wstring& folder);
bool FileExists(const std::wstring& path);
// The whole content of a file (a key, a record, a log, a jar to publish). False when it
// cannot be read or holds more than `limit` bytes (then *err says so). Buffers that held
// its bytes are wiped before they are freed: a key file's bytes must not linger.
bool ReadWholeFile(const std::wstring& path, std::size_t limit, std::string* content, Error* err = nullptr,
                   OpenMode mode = OpenMode::kReadShared);
// At most the first `limit` bytes of a file (the first line of a configuration file):
// a longer file is not a failure, its rest is not read.
bool ReadFileStart(const std::wstring& path, std::size_t limit, std::string* content, Error* err = nullptr,
                   OpenMode mode = OpenMode::kReadShared);

// What tells, without reading a file, whether its content may have changed: its size, its
// last-write and status-change times as the system records them, and the system's identity
// of the file (volume and file index on Windows, device and inode on Linux), which a rename
// over it or a re-creation changes. Equal stamps taken at two moments mean the file is
// very probably the same; callers that rely on that must still distrust a stamp whose
// times are too close to the moment it was taken (the system's clock granularity).
struct FileStamp {
  std::int64_t size = 0;
  std::int64_t modified = 0;  // 100 ns units (Windows) or nanoseconds (Linux) since an epoch
  std::int64_t changed = 0;   // status change (Linux ctime; Windows: the change time, or 0)
  std::uint64_t volume = 0;
  std::uint64_t fileId = 0;
  bool operator==(const FileStamp&) const = default;
};
// The system clock in the units and from the epoch of FileStamp's times.
std::int64_t StampClockNow();
#ifdef _WIN32
constexpr std::int64_t kStampTicksPerSecond = 10000000;  // FILETIME: 100 ns since 1601
#else
constexpr std::int64_t kStampTicksPerSecond = 1000000000;  // nanoseconds since 1970
#endif
// The stamp of a regular file; false when it cannot be had (missing, a folder, no access).
bool StampOf(const std::wstring& path, FileStamp* stamp);
// The same for an open file.
bool StampOf(File& file, FileStamp* stamp);

}  // namespace platform
