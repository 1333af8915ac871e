// The platform's path syntax and the few operations every layer needs on it: the folder
// of a path, its last part, joining, and turning '/' into the native separator.
// Pure text work; nothing here touches the disk.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

#ifdef _WIN32
inline constexpr wchar_t kPathSeparator = L'\\';
inline constexpr wchar_t kClassPathSeparator = L';';
#else
inline constexpr wchar_t kPathSeparator = L'/';
inline constexpr wchar_t kClassPathSeparator = L':';
#endif

// '/' is a separator on both platforms (Windows accepts it too).
inline bool IsPathSeparator(wchar_t c) { return c == kPathSeparator || c == L'/'; }

// Position of the last separator in `path`, or npos.
inline std::size_t LastPathSeparator(const std::wstring& path) {
  for (std::size_t i = path.size(); i-- > 0;)
    if (IsPathSeparator(path[i])) return i;
  return std::wstring::npos;
}

// The folder that holds `path`, without a trailing separator unless it is a root
// ("/a/b" -> "/a", "/a" -> "/", "C:\a" -> "C:\"); empty when the path has no separator.
inline std::wstring FolderOf(const std::wstring& path) {
  std::size_t cut = LastPathSeparator(path);
  if (cut == std::wstring::npos) return std::wstring();
  bool root = cut == 0 || path[cut - 1] == L':';
  return path.substr(0, root ? cut + 1 : cut);
}

// The last part of `path` (all of it when it has no separator).
inline std::wstring FileNameOf(const std::wstring& path) {
  std::size_t cut = LastPathSeparator(path);
  return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

// `name` inside `folder`, with exactly one separator between them (none added after a
// folder that already ends in one, such as a drive root).
inline std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
  if (folder.empty()) return name;
  if (IsPathSeparator(folder.back())) return folder + name;
  return folder + kPathSeparator + name;
}

// A relative path written with '/' (as the server writes it) in the platform's separators.
inline std::wstring ToNativeSeparators(std::wstring path) {
  for (wchar_t& c : path) {
    if (c == L'/') c = kPathSeparator;
  }
  return path;
}

}  // namespace platform
