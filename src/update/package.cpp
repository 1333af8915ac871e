#include "update/package.h"

#include "branding.h"
#include "base/retry.h"
#include "base/decimal.h"
#include "base/text.h"
#include "diagnostics/log.h"
#include "platform/atomic_file.h"
#include "platform/platform.h"
#include "update/file_hash_cache.h"
#include "update/md5_checksum.h"
#include "update/zip_check.h"

namespace {

const wchar_t kPartialSuffix[] = L".pak.part";

}  // namespace

std::wstring LocalJarMd5(const std::wstring& jarPath) { return FileMd5(jarPath); }

std::wstring VersionText(const FetchBuffer& buffer) {
  std::string bytes;
  if (buffer.data) bytes.assign(reinterpret_cast<const char*>(buffer.data.get()));
  // Notepad saves UTF-8 with a byte order mark, as it does libs.txt and Config.ini.
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  return base::AsciiLower(base::Trim(platform::ThreadAnsiToWide(bytes)));
}

bool IsVersionText(const std::wstring& text) { return text.empty() || base::IsMd5Hex(text); }

std::wstring PartialPackagePath(const std::wstring& workingFolder, const std::wstring& md5) {
  return platform::JoinPath(workingFolder, md5 + kPartialSuffix);
}

void RemovePartialPackages(const std::wstring& workingFolder, const std::wstring& keepMd5) {
  const std::wstring suffix = kPartialSuffix;
  for (const std::wstring& name : platform::ListDirectory(workingFolder)) {
    std::size_t at = name.find(suffix);
    if (at == std::wstring::npos || at == 0 || (!keepMd5.empty() && name.compare(0, at, keepMd5) == 0 &&
                                                at == keepMd5.size()))
      continue;
    const std::wstring partial = platform::JoinPath(workingFolder, name.substr(0, at + suffix.size()));
    if (at + suffix.size() == name.size()) {
      if (platform::RemoveFile(partial)) theLog.Write(L"remove partial package: %s", name);
    } else if (name.compare(at + suffix.size(), 6, L".part-") == 0) {
      // The copy of its own that a launcher fetched while another one held the partial file.
      platform::RemoveStaleSiblings(partial, L"part");
    }
  }
}

std::optional<DownloadedFile> FetchPackage(const std::wstring& url, const std::wstring& workingFolder,
                                           const std::wstring& md5, const DownloadProgress& onProgress) {
  DownloadOptions options;
  options.onProgress = onProgress;
  options.maxBytes = branding::kMaxPackageBytes;
  options.verify = [&](const DownloadedFile& file) {
    if (file.md5 == md5) return true;
    theLog.Write(L"package md5 mismatch: %s from:%s", file.md5, url);
    return false;
  };
  return DownloadResumable(url, PartialPackagePath(workingFolder, md5), options);
}

bool IsUsablePackage(const DownloadedFile& package) {
  std::wstring why;
  if (IsWholeZipFile(package.path, branding::kJarKey, &why)) return true;
  theLog.Write(L"invalid package: %s", why);
  return false;
}
