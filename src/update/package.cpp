#include "update/package.h"

#include "base/retry.h"
#include "base/text.h"
#include "diagnostics/log.h"
#include "platform/platform.h"
#include "update/md5_checksum.h"

std::wstring LocalJarMd5(const std::wstring& jarPath) {
  platform::File file;
  if (!file.Open(jarPath, platform::OpenMode::kReadExclusive)) return {};
  std::optional<std::wstring> md5 = CMD5Checksum::GetMD5(file);
  return md5 ? *md5 : std::wstring();
}

std::wstring VersionText(const FetchBuffer& buffer) {
  std::string bytes;
  if (buffer.data) bytes.assign(reinterpret_cast<const char*>(buffer.data.get()));
  return base::AsciiLower(base::Trim(platform::ThreadAnsiToWide(bytes)));
}

bool IsVersionText(const std::wstring& text) {
  if (text.empty()) return true;
  if (text.size() != 32) return false;
  for (wchar_t c : text) {
    if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) return false;
  }
  return true;
}

bool FetchPackage(FetchBuffer& buffer, const std::wstring& url, const std::wstring& md5) {
  return base::Retry([&] {
    if (!buffer.FetchOnce(url)) return false;
    std::wstring got = CMD5Checksum::GetMD5(buffer.data.get(), buffer.length);
    if (got == md5) return true;
    theLog.Write(L"package md5 mismatch: %s from:%s", got, url);
    return false;
  });
}
