// Windows files with the share modes the launcher relies on.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

File::~File() { Close(); }

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

// A regular file of one name, emptied, that the name itself leads to. The name is opened
// as it stands (FILE_FLAG_OPEN_REPARSE_POINT: a symbolic link or junction is not followed)
// and without truncating; whatever is not a plain file of one name (a reparse point, a
// hard link of another file) is deleted once and a new file made with CREATE_NEW, so that
// a link put back meanwhile fails the open instead of being written through. A folder
// stays and fails the open.
static HANDLE OpenOwnFile(const std::wstring& path) {
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  for (int attempt = 0; attempt < 2; ++attempt) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, share, nullptr, attempt == 0 ? OPEN_ALWAYS : CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return h;
    BY_HANDLE_FILE_INFORMATION info;
    bool own = GetFileInformationByHandle(h, &info) &&
               !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
               info.nNumberOfLinks == 1;
    // A fresh handle stands at the start: SetEndOfFile empties the file.
    if (own && SetEndOfFile(h)) return h;
    CloseHandle(h);
    if (attempt > 0 || !DeleteFileW(path.c_str())) break;
  }
  if (GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_ACCESS_DENIED);
  return INVALID_HANDLE_VALUE;
}

bool File::Open(const std::wstring& path, OpenMode mode, Error* err) {
  Close();
  if (mode == OpenMode::kWriteCreateSharedOwnFile) {
    HANDLE h = OpenOwnFile(path);
    if (h == INVALID_HANDLE_VALUE) {
      SetLastSystemError(err);
      return false;
    }
    handle_ = h;
    return true;
  }
  DWORD access = 0, share = 0, disposition = 0;
  switch (mode) {
    case OpenMode::kReadDenyWriters:
      access = GENERIC_READ;
      share = FILE_SHARE_READ;
      disposition = OPEN_EXISTING;
      break;
    case OpenMode::kWriteCreateSharedOwnFile: break;
    case OpenMode::kReadExclusive: access = GENERIC_READ; disposition = OPEN_EXISTING; break;
    case OpenMode::kReadShared:
      access = GENERIC_READ;
      share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
      disposition = OPEN_EXISTING;
      break;
    case OpenMode::kWriteCreateExclusive: access = GENERIC_WRITE; disposition = CREATE_ALWAYS; break;
    case OpenMode::kWriteCreateShared:
      access = GENERIC_WRITE;
      share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
      disposition = CREATE_ALWAYS;
      break;
    case OpenMode::kReadWriteKeepLocked:
      access = GENERIC_READ | GENERIC_WRITE;
      disposition = OPEN_ALWAYS;
      break;
  }
  HANDLE h = CreateFileW(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    SetLastSystemError(err);
    return false;
  }
  handle_ = h;
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

bool File::Write(const void* data, std::size_t size, Error* err) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD n = 0;
    if (!WriteFile(static_cast<HANDLE>(handle_), p, chunk, &n, nullptr) || n == 0) {
      SetLastSystemError(err);
      return false;
    }
    p += n;
    size -= n;
  }
  return true;
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
  if (!Seek(size, err)) return false;
  if (!SetEndOfFile(static_cast<HANDLE>(handle_))) {
    SetLastSystemError(err);
    return false;
  }
  return true;
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

void File::Unlock() {
  OVERLAPPED at{};
  if (handle_ != nullptr) UnlockFileEx(static_cast<HANDLE>(handle_), 0, 1, 0, &at);
}

void File::Close() {
  if (handle_ != nullptr) {
    CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
  }
}

bool RenameOver(const std::wstring& from, const std::wstring& to, Error* err) {
  if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    SetLastSystemError(err);
    return false;
  }
  return true;
}

bool RemoveFile(const std::wstring& path) { return DeleteFileW(path.c_str()) != 0; }

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
