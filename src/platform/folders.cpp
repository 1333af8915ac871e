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

}  // namespace platform
