// The folder that the vendor's web server serves, as the publish tool writes it: files
// named by '/'-separated paths relative to it, each replaced in one step, and a file that
// already holds the bytes to be written left untouched (so publishing the same thing twice
// changes nothing a cache or a mirror would notice).
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "platform/platform.h"

namespace publish {

// Wide text and std::filesystem paths in the platform's own encoding of file names (UTF-16
// on Windows, UTF-8 on Linux) rather than the C library's locale.
std::filesystem::path ToPath(const std::wstring& text);
std::wstring FromPath(const std::filesystem::path& path);

// The whole of a file; kSystem with "<path>: <reason>" when it cannot be read.
base::Result<std::string> ReadWholeFile(const std::wstring& path);

class ServerFolder {
 public:
  explicit ServerFolder(std::filesystem::path root) : root_(std::move(root)) {}

  // Writes `bytes` to `relative` unless the file holds them already.
  base::Status Put(const std::wstring& relative, const std::string& bytes);
  // The file's full path on this machine.
  std::wstring PathOf(const std::wstring& relative) const;
  // The file's bytes; nothing when there is no such file.
  base::Result<std::optional<std::string>> Read(const std::wstring& relative) const;
  // The names of the regular files directly in the folder `relative` (none when missing).
  std::vector<std::wstring> FileNames(const std::wstring& relative) const;
  base::Status Remove(const std::wstring& relative);

  // Holds `relative` (made when missing, and left in place) locked for as long as the
  // returned file is open: two runs that sign for one repository at once (a release and
  // the timer's refresh) would count the same versions. kBusy when another run holds it.
  base::Result<platform::File> Lock(const std::wstring& relative) const;

  // What was done, relative paths in the order it happened.
  const std::vector<std::wstring>& written() const { return written_; }
  const std::vector<std::wstring>& unchanged() const { return unchanged_; }
  const std::vector<std::wstring>& removed() const { return removed_; }

 private:
  std::filesystem::path root_;
  std::vector<std::wstring> written_, unchanged_, removed_;
};

}  // namespace publish
