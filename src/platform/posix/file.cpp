// Linux files. POSIX has no share modes: the exclusive modes of the Windows build become
// plain opens here, and "replaced in one step" is rename(2) followed by a sync of the folder.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform/platform.h"

#include "base/text.h"

namespace platform {

File::~File() { Close(); }

File::File(File&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
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

// A regular file of one name, emptied, that the name itself leads to. The name is never
// followed (O_NOFOLLOW), nor truncated before it is known to be such a file: whatever
// else stands there (a symbolic link, a second name of another file, a FIFO) is removed
// once and a new file made with O_EXCL, so that a link put back meanwhile fails the open
// instead of being written through. A folder stays and fails the open.
static int OpenOwnFile(const std::string& name) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    // O_NONBLOCK: a FIFO without a reader fails (ENXIO) instead of blocking the open.
    int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (attempt > 0 ? O_EXCL : 0);
    int fd = OpenRetrying(name, flags);
    if (fd >= 0) {
      struct stat st;
      if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 &&
          fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0 && ftruncate(fd, 0) == 0) {
        return fd;
      }
      ::close(fd);
      errno = EPERM;
    } else if (errno != ELOOP && errno != ENXIO) {
      return -1;  // missing folder, no access, a folder in the way
    }
    if (attempt > 0 || ::unlink(name.c_str()) != 0) return -1;
  }
  return -1;
}

bool File::Open(const std::wstring& path, OpenMode mode, Error* err) {
  Close();
  int flags = O_CLOEXEC;
  switch (mode) {
    case OpenMode::kReadExclusive:
    case OpenMode::kReadShared:
    case OpenMode::kReadDenyWriters: flags |= O_RDONLY; break;
    case OpenMode::kWriteCreateSharedOwnFile: break;
    case OpenMode::kWriteCreateExclusive:
    case OpenMode::kWriteCreateShared: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    case OpenMode::kReadWriteKeepLocked: flags |= O_RDWR | O_CREAT; break;
  }
  std::string name = base::WideToUtf8(path);
  int fd = mode == OpenMode::kWriteCreateSharedOwnFile ? OpenOwnFile(name) : OpenRetrying(name, flags);
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

void File::Unlock() {
  if (fd_ >= 0) ::flock(fd_, LOCK_UN);
}

void File::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
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
