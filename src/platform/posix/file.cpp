// Linux files. POSIX has no share modes: the exclusive modes of the Windows build become
// plain opens here, and "replaced in one step" is rename(2) followed by a sync of the folder.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include "platform/platform.h"

#include "base/text.h"

namespace platform {

File::~File() { Close(); }

File::File(File&& other) noexcept : fd_(other.fd_), append_(other.append_) { other.fd_ = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    append_ = other.append_;
    other.fd_ = -1;
  }
  return *this;
}

static int OpenRetrying(const std::string& name, int flags) {
  int fd;
  do {
    fd = ::open(name.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// A new file under the name, or nothing: O_EXCL fails on whatever stands there, a link that
// points nowhere included, so nothing is ever created through a link.
static int CreateNew(const std::string& name, int access) {
  return OpenRetrying(name, access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC);
}

// A regular file that the name itself leads to, opened with its content, or a new one. The
// name is never followed (O_NOFOLLOW). Whatever else stands there (a symbolic link, a FIFO,
// a device; with `singleName` also a second name of another file) is removed once and a
// new file made with O_EXCL, so that a link put back meanwhile fails the open instead of
// being written through. A folder stays and fails the open.
static int OpenExistingOrNew(const std::string& name, int access, bool singleName) {
  // Another process may make or remove the file between two steps: a few rounds settle it.
  for (int round = 0; round < 4; ++round) {
    struct stat before;
    if (::lstat(name.c_str(), &before) != 0) {
      if (errno != ENOENT) return -1;
      int fd = CreateNew(name, access);
      if (fd >= 0 || errno != EEXIST) return fd;
      continue;  // made by another process meanwhile: open that one
    }
    if (S_ISDIR(before.st_mode)) {
      errno = EISDIR;
      return -1;
    }
    if (S_ISREG(before.st_mode) && (!singleName || before.st_nlink == 1)) {
      // O_NONBLOCK: should a FIFO have taken the file's place meanwhile, the open does not
      // wait for a writer; fstat below then turns it down.
      int fd = OpenRetrying(name, access | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) {
        if (errno == ENOENT || errno == ELOOP || errno == ENXIO) continue;
        return -1;
      }
      struct stat st;
      if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (!singleName || st.st_nlink == 1) &&
          fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0)
        return fd;
      ::close(fd);
      continue;
    }
    // Not the launcher's to open: its name is taken back, the thing itself left alone.
    if (::unlink(name.c_str()) != 0 && errno != ENOENT) return -1;
    int fd = CreateNew(name, access);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EBUSY;
  return -1;
}

bool File::Open(const std::wstring& path, OpenMode mode, Error* err) {
  Close();
  std::string name = base::WideToUtf8(path);
  int fd = -1;
  switch (mode) {
    case OpenMode::kReadExclusive:
    case OpenMode::kReadShared:
    case OpenMode::kReadDenyWriters: fd = OpenRetrying(name, O_RDONLY | O_CLOEXEC); break;
    case OpenMode::kCreateNewExclusive: fd = CreateNew(name, O_WRONLY); break;
    case OpenMode::kOpenAlwaysShared: fd = OpenExistingOrNew(name, O_RDWR, false); break;
    case OpenMode::kReadWriteKeepLocked: fd = OpenExistingOrNew(name, O_RDWR, true); break;
    // Read as well as write: a shared lock slot needs a file open for reading.
    case OpenMode::kAppendSharedOwnFile: fd = OpenExistingOrNew(name, O_RDWR | O_APPEND, true); break;
  }
  if (fd < 0) {
    SetLastSystemError(err);
    return false;
  }
  // A folder opens for reading on Linux; it is no file for any caller here.
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    SetLastSystemError(err);
    return false;
  }
  if (mode == OpenMode::kReadWriteKeepLocked && flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int code = errno == EWOULDBLOCK ? EBUSY : errno;
    ::close(fd);
    errno = code;
    SetLastSystemError(err);
    return false;
  }
  fd_ = fd;
  append_ = mode == OpenMode::kAppendSharedOwnFile;
  return true;
}

bool File::IsOpen() const { return fd_ >= 0; }

bool File::Read(void* buffer, std::size_t size, std::size_t* got, Error* err) {
  *got = 0;
  for (;;) {
    ssize_t n = ::read(fd_, buffer, size);
    if (n >= 0) {
      *got = static_cast<std::size_t>(n);
      return true;
    }
    if (errno != EINTR) {
      SetLastSystemError(err);
      return false;
    }
  }
}

bool File::Write(const void* data, std::size_t size, Error* err) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd_, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastSystemError(err);
      return false;
    }
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::int64_t File::Length() {
  struct stat st;
  if (fd_ < 0 || fstat(fd_, &st) != 0) return -1;
  return st.st_size;
}

bool File::Seek(std::int64_t offset, Error* err) {
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
    SetLastSystemError(err);
    return false;
  }
  return true;
}

bool File::Resize(std::int64_t size, Error* err) {
  int rc;
  do {
    rc = ::ftruncate(fd_, static_cast<off_t>(size));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    SetLastSystemError(err);
    return false;
  }
  return Seek(size, err);
}

bool File::FlushToDisk(Error* err) {
  if (fsync(fd_) != 0) {
    SetLastSystemError(err);
    return false;
  }
  return true;
}

bool File::TryLock(bool exclusive) {
  // flock belongs to the open file description: a second open in this process conflicts
  // as another process's would.
  int op = (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
  int result;
  do {
    result = ::flock(fd_, op);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

bool File::Lock(bool exclusive) {
  int result;
  do {
    result = ::flock(fd_, exclusive ? LOCK_EX : LOCK_SH);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

void File::Unlock() {
  if (fd_ >= 0) ::flock(fd_, LOCK_UN);
}

// Open file description locks: like flock they belong to this open of the file (a second
// open in this process conflicts), unlike it they cover byte ranges, and they leave
// flock's whole-file lock alone.
static constexpr off_t kSlotBase = off_t{1} << 62;

static bool SetSlot(int fd, int slot, short type) {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = kSlotBase + slot;
  range.l_len = 1;
  int result;
  do {
    result = ::fcntl(fd, F_OFD_SETLK, &range);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

bool File::TryLockSlot(int slot, bool exclusive) {
  return fd_ >= 0 && SetSlot(fd_, slot, exclusive ? F_WRLCK : F_RDLCK);
}

void File::UnlockSlot(int slot) {
  if (fd_ >= 0) SetSlot(fd_, slot, F_UNLCK);
}

void File::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  append_ = false;
}

bool RenameOver(const std::wstring& from, const std::wstring& to, Error* err) {
  std::string target = base::WideToUtf8(to);
  if (::rename(base::WideToUtf8(from).c_str(), target.c_str()) != 0) {
    SetLastSystemError(err);
    return false;
  }
  // Make the new name itself durable: sync the folder that holds it.
  std::string folder = target.substr(0, target.find_last_of('/') + 1);
  int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    ::close(dir);
  }
  return true;
}

bool RemoveFile(const std::wstring& path) { return ::unlink(base::WideToUtf8(path).c_str()) == 0; }

bool VolumeSpace(const std::wstring& folder, std::int64_t* available, std::int64_t* total) {
  struct statvfs volume;
  if (::statvfs(folder.empty() ? "." : base::WideToUtf8(folder).c_str(), &volume) != 0) return false;
  *available = static_cast<std::int64_t>(volume.f_bavail) * static_cast<std::int64_t>(volume.f_frsize);
  *total = static_cast<std::int64_t>(volume.f_blocks) * static_cast<std::int64_t>(volume.f_frsize);
  return true;
}

std::vector<std::wstring> ListDirectory(const std::wstring& folder) {
  std::vector<std::wstring> names;
  DIR* dir = ::opendir(folder.empty() ? "." : base::WideToUtf8(folder).c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(base::Utf8ToWide(name));
  }
  ::closedir(dir);
  return names;
}

bool FileExists(const std::wstring& path) {
  struct stat st;
  return stat(base::WideToUtf8(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace platform

namespace platform {

std::int64_t StampClockNow() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

static bool StampOfStat(const struct stat& st, FileStamp* stamp) {
  if (!S_ISREG(st.st_mode)) return false;
  stamp->size = static_cast<std::int64_t>(st.st_size);
  stamp->modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp->changed = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  stamp->volume = static_cast<std::uint64_t>(st.st_dev);
  stamp->fileId = static_cast<std::uint64_t>(st.st_ino);
  return true;
}

bool StampOf(File& file, FileStamp* stamp) {
  struct stat st;
  return file.IsOpen() && fstat(file.NativeHandle(), &st) == 0 && StampOfStat(st, stamp);
}

bool StampOf(const std::wstring& path, FileStamp* stamp) {
  struct stat st;
  return stat(base::WideToUtf8(path).c_str(), &st) == 0 && StampOfStat(st, stamp);
}

}  // namespace platform
