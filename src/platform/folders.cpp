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

bool ReadSmallFile(const std::wstring& path, std::size_t limit, std::string* content, Error* err) {
  content->clear();
  File file;
  if (!file.Open(path, OpenMode::kReadShared, err)) return false;
  char buffer[4096];
  for (;;) {
    std::size_t got = 0;
    bool ok = file.Read(buffer, sizeof buffer, &got, err);
    if (ok && got > 0) content->append(buffer, got);
    if (ok && content->size() > limit) SetFailure(err, L"larger than " + std::to_wstring(limit) + L" bytes");
    if (!ok || content->size() > limit) {
      // A key file's bytes must not linger in freed memory.
      std::fill(content->begin(), content->end(), '\0');
      std::fill(buffer, buffer + sizeof buffer, '\0');
      content->clear();
      return false;
    }
    if (got == 0) break;
  }
  std::fill(buffer, buffer + sizeof buffer, '\0');
  return true;
}

}  // namespace platform
