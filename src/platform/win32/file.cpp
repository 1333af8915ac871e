// Windows files with the share modes the launcher relies on.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

File::~File() { Close(); }

File::File(File&& other) noexcept : handle_(other.handle_), append_(other.append_) { other.handle_ = nullptr; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    append_ = other.append_;
    other.handle_ = nullptr;
  }
  return *this;
}

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The name itself, never what a symbolic link or junction there points to.
HANDLE CreateAtName(const std::wstring& path, DWORD access, DWORD share, DWORD disposition) {
  return CreateFileW(path.c_str(), access, share, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// A regular file that the name itself leads to, opened with its content, or a new one.
// Whatever is not a plain file (a reparse point; with `singleName` also a hard link of
// another file) is deleted once and a new file made with CREATE_NEW, so that a link put
// back meanwhile fails the open instead of being written through. A folder stays and fails
// the open.
HANDLE OpenExistingOrNew(const std::wstring& path, DWORD access, DWORD share, bool singleName) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    HANDLE h = CreateAtName(path, access, share, attempt == 0 ? OPEN_ALWAYS : CREATE_NEW);
    if (h == INVALID_HANDLE_VALUE) return h;
    BY_HANDLE_FILE_INFORMATION info;
    bool own = GetFileInformationByHandle(h, &info) &&
               !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
               (!singleName || info.nNumberOfLinks == 1);
    if (own) return h;
    CloseHandle(h);
    if (attempt > 0 || !DeleteFileW(path.c_str())) break;
  }
  if (GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_ACCESS_DENIED);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

bool File::Open(const std::wstring& path, OpenMode mode, Error* err) {
  Close();
  HANDLE h = INVALID_HANDLE_VALUE;
  switch (mode) {
    case OpenMode::kReadExclusive:
      h = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      break;
    case OpenMode::kReadShared:
      h = CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      break;
    case OpenMode::kReadDenyWriters:
      h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
      break;
    case OpenMode::kCreateNewExclusive: h = CreateAtName(path, GENERIC_WRITE, 0, CREATE_NEW); break;
    case OpenMode::kOpenAlwaysShared:
      h = OpenExistingOrNew(path, GENERIC_READ | GENERIC_WRITE, kShareAll, false);
      break;
    case OpenMode::kReadWriteKeepLocked: h = OpenExistingOrNew(path, GENERIC_READ | GENERIC_WRITE, 0, true); break;
    // Append access without write access: the system puts every write at the end of the
    // file in one step, whoever else appends. Read access for the locks.
    case OpenMode::kAppendSharedOwnFile:
      h = OpenExistingOrNew(path, GENERIC_READ | FILE_APPEND_DATA, kShareAll, true);
      break;
  }
  if (h == INVALID_HANDLE_VALUE) {
    SetLastSystemError(err);
    return false;
  }
  handle_ = h;
  append_ = mode == OpenMode::kAppendSharedOwnFile;
  return true;
}

bool File::IsOpen() const { return handle_ != nullptr; }

bool File::Read(void* buffer, std::size_t size, std::size_t* got, Error* err) {
  *got = 0;
  DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  DWORD n = 0;
  if (!ReadFile(static_cast<HANDLE>(handle_), buffer, chunk, &n, nullptr)) {
    SetLastSystemError(err);
    return false;
  }
  *got = n;
  return true;
}

// The byte whose lock appenders of one file take in turn, apart from the caller's slots.
static OVERLAPPED AppendLockAt() {
  const std::uint64_t offset = (std::uint64_t{1} << 62) - 1;
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

bool File::Write(const void* data, std::size_t size, Error* err) {
  HANDLE h = static_cast<HANDLE>(handle_);
  // Windows puts every write of an append-only handle at the end of the file; Wine puts it
  // at the handle's own position, over what other appenders wrote meanwhile. Appenders
  // therefore take turns (a lock that only they take, a moment each) and write where the
  // file ends. A turn that does not come within a second (an appender hung while holding
  // it) is not waited for any longer.
  bool turn = false;
  OVERLAPPED lock = AppendLockAt();
  if (append_) {
    for (int wait = 0; wait < 1000 && !turn; ++wait) {
      turn = LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &lock) != 0;
      if (!turn) Sleep(1);
    }
  }
  LARGE_INTEGER end{};
  bool atEnd = append_ && GetFileSizeEx(h, &end);
  const char* p = static_cast<const char*>(data);
  bool ok = true;
  while (size > 0 && ok) {
    DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD n = 0;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(end.QuadPart);
    at.OffsetHigh = static_cast<DWORD>(end.QuadPart >> 32);
    ok = WriteFile(h, p, chunk, &n, atEnd ? &at : nullptr) && n != 0;
    if (!ok) SetLastSystemError(err);
    p += n;
    size -= n;
    end.QuadPart += n;
  }
  if (turn) UnlockFileEx(h, 0, 1, 0, &lock);
  return ok;
}

std::int64_t File::Length() {
  LARGE_INTEGER size;
  if (handle_ == nullptr || !GetFileSizeEx(static_cast<HANDLE>(handle_), &size)) return -1;
  return size.QuadPart;
}

bool File::Seek(std::int64_t offset, Error* err) {
  LARGE_INTEGER to;
  to.QuadPart = offset;
  if (!SetFilePointerEx(static_cast<HANDLE>(handle_), to, nullptr, FILE_BEGIN)) {
    SetLastSystemError(err);
    return false;
  }
  return true;
}

bool File::Resize(std::int64_t size, Error* err) {
  HANDLE h = static_cast<HANDLE>(handle_);
  // An append-only handle may not move the end itself: a second handle to the same open
  // file does (no name is looked up again).
  HANDLE resizer = append_ ? ReOpenFile(h, GENERIC_WRITE, kShareAll, 0) : h;
  if (resizer == INVALID_HANDLE_VALUE) {
    SetLastSystemError(err);
    return false;
  }
  LARGE_INTEGER to;
  to.QuadPart = size;
  bool ok = SetFilePointerEx(resizer, to, nullptr, FILE_BEGIN) && SetEndOfFile(resizer);
  if (!ok) SetLastSystemError(err);
  if (resizer != h) CloseHandle(resizer);
  return ok;
}

bool File::FlushToDisk(Error* err) {
  if (!FlushFileBuffers(static_cast<HANDLE>(handle_))) {
    SetLastSystemError(err);
    return false;
  }
  return true;
}

// One byte at the start stands for the whole file: a lock beyond the end is allowed.
bool File::TryLock(bool exclusive) {
  OVERLAPPED at{};
  DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  return handle_ != nullptr && LockFileEx(static_cast<HANDLE>(handle_), flags, 0, 1, 0, &at);
}

bool File::Lock(bool exclusive) {
  OVERLAPPED at{};
  DWORD flags = exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0;
  return handle_ != nullptr && LockFileEx(static_cast<HANDLE>(handle_), flags, 0, 1, 0, &at);
}

void File::Unlock() {
  OVERLAPPED at{};
  if (handle_ != nullptr) UnlockFileEx(static_cast<HANDLE>(handle_), 0, 1, 0, &at);
}

// Far beyond any content: Windows locks keep other handles from reading and writing the
// bytes they cover, and nobody reads or writes there.
static OVERLAPPED SlotAt(int slot) {
  const std::uint64_t offset = (std::uint64_t{1} << 62) + static_cast<std::uint64_t>(slot);
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

bool File::TryLockSlot(int slot, bool exclusive) {
  OVERLAPPED at = SlotAt(slot);
  DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  return handle_ != nullptr && LockFileEx(static_cast<HANDLE>(handle_), flags, 0, 1, 0, &at);
}

void File::UnlockSlot(int slot) {
  OVERLAPPED at = SlotAt(slot);
  if (handle_ != nullptr) UnlockFileEx(static_cast<HANDLE>(handle_), 0, 1, 0, &at);
}

void File::Close() {
  if (handle_ != nullptr) {
    CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
  }
  append_ = false;
}

bool RenameOver(const std::wstring& from, const std::wstring& to, Error* err) {
  if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    SetLastSystemError(err);
    return false;
  }
  return true;
}

bool RemoveFile(const std::wstring& path) { return DeleteFileW(path.c_str()) != 0; }

bool VolumeSpace(const std::wstring& folder, std::int64_t* available, std::int64_t* total) {
  ULARGE_INTEGER free{}, size{};
  std::wstring at = folder.empty() ? L"." : folder;
  if (!GetDiskFreeSpaceExW(at.c_str(), &free, &size, nullptr)) return false;
  *available = static_cast<std::int64_t>(free.QuadPart);
  *total = static_cast<std::int64_t>(size.QuadPart);
  return true;
}

std::vector<std::wstring> ListDirectory(const std::wstring& folder) {
  std::vector<std::wstring> names;
  std::wstring pattern = folder.empty() ? L"*" : folder;
  if (!folder.empty() && !IsPathSeparator(folder.back())) pattern += L'\\';
  if (!folder.empty()) pattern += L'*';
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

bool FileExists(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace platform

namespace platform {

std::int64_t StampClockNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return (static_cast<std::int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

static bool StampOfHandle(HANDLE h, FileStamp* stamp) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return false;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  stamp->size = (static_cast<std::int64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  stamp->modified = (static_cast<std::int64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                    info.ftLastWriteTime.dwLowDateTime;
  FILE_BASIC_INFO basic{};
  stamp->changed = GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)
                       ? basic.ChangeTime.QuadPart
                       : 0;
  stamp->volume = info.dwVolumeSerialNumber;
  stamp->fileId = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

bool StampOf(File& file, FileStamp* stamp) {
  return file.IsOpen() && StampOfHandle(static_cast<HANDLE>(file.NativeHandle()), stamp);
}

bool StampOf(const std::wstring& path, FileStamp* stamp) {
  // Reading attributes only: no share mode can lock another opener out.
  HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = StampOfHandle(h, stamp);
  CloseHandle(h);
  return ok;
}

}  // namespace platform
