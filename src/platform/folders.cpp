#include <algorithm>

#include "platform/platform.h"

namespace platform {

bool MakeDirectories(const std::wstring& path) {
  if (path.empty() || IsDirectory(path)) return !path.empty();
  std::size_t cut = LastPathSeparator(path);
  // Stop at a root ("/", "C:\\"): it exists or nothing can be made.
  if (cut != std::wstring::npos && cut > 0 && path[cut - 1] != L':')
    MakeDirectories(path.substr(0, cut));
  MakeDirectory(path);
  return IsDirectory(path);
}

bool File::ReadFull(void* buffer, std::size_t size, std::size_t* got, Error* err) {
  *got = 0;
  while (*got < size) {
    std::size_t n = 0;
    if (!Read(static_cast<char*>(buffer) + *got, size - *got, &n, err)) return false;
    if (n == 0) break;
    *got += n;
  }
  return true;
}

namespace {

// Up to `room` bytes of the file into *content; wiped and false when it cannot be read.
bool ReadUpTo(const std::wstring& path, std::size_t room, OpenMode mode, std::string* content, Error* err) {
  content->clear();
  File file;
  if (!file.Open(path, mode, err)) return false;
  char buffer[4096];
  bool ok = true;
  for (;;) {
    std::size_t want = room - content->size() < sizeof buffer ? room - content->size() : sizeof buffer;
    std::size_t got = 0;
    if (want == 0) break;
    if (!file.ReadFull(buffer, want, &got, err)) {
      ok = false;
      break;
    }
    // Grown by hand so that no reallocation leaves a copy of the bytes behind unwiped.
    if (content->size() + got > content->capacity()) {
      std::string larger;
      larger.reserve((content->size() + got) * 2);
      larger.assign(*content);
      std::fill(content->begin(), content->end(), '\0');
      content->swap(larger);
    }
    content->append(buffer, got);
    if (got < want) break;
  }
  std::fill(buffer, buffer + sizeof buffer, '\0');
  if (!ok) {
    std::fill(content->begin(), content->end(), '\0');
    content->clear();
  }
  return ok;
}

}  // namespace

bool ReadWholeFile(const std::wstring& path, std::size_t limit, std::string* content, Error* err, OpenMode mode) {
  const std::size_t room = limit == static_cast<std::size_t>(-1) ? limit : limit + 1;
  if (!ReadUpTo(path, room, mode, content, err)) return false;
  if (content->size() <= limit) return true;
  std::fill(content->begin(), content->end(), '\0');
  content->clear();
  return SetFailure(err, L"larger than " + std::to_wstring(limit) + L" bytes");
}

bool ReadFileStart(const std::wstring& path, std::size_t limit, std::string* content, Error* err, OpenMode mode) {
  return ReadUpTo(path, limit, mode, content, err);
}

}  // namespace platform
