#include "update/config_file.h"

#include "diagnostics/log.h"
#include "platform/platform.h"

std::wstring ServerLocations::PackageUrl(const std::wstring& md5) const {
  std::size_t slash = mainUrl.rfind(L'/');
  if (slash == std::wstring::npos) return mainUrl;
  return mainUrl.substr(0, slash + 1) + md5 + L".pak";
}

ServerLocations LocationsFromConfigLine(const std::wstring& line) {
  ServerLocations where;
  where.mainUrl = line;
  std::size_t slash = line.rfind(L'/');
  if (slash == std::wstring::npos) return where;
  std::wstring folder = line.substr(0, slash + 1);
  where.versionUrl = folder + L"update.txt";
  where.libsUrl = folder + L"libs.txt";
  where.jarName = line.substr(slash + 1);
  return where;
}

std::wstring ConfigFilePath(const std::wstring& exePath) {
  if (platform::LastPathSeparator(exePath) == std::wstring::npos) return {};
  return platform::JoinPath(platform::FolderOf(exePath), L"Config.ini");
}

std::optional<std::wstring> ReadConfigLine(const std::wstring& configPath) {
  platform::File file;
  platform::Error err;
  unsigned char bytes[1024];
  std::size_t got = 0;
  if (!file.Open(configPath, platform::OpenMode::kReadExclusive, &err) ||
      !file.Read(bytes, sizeof bytes, &got, &err)) {
    LogException(err);
    return std::nullopt;
  }
  std::wstring line;
  for (std::size_t i = 0; i < got && bytes[i] != '\r' && bytes[i] != '\n'; ++i) {
    // Widened as signed bytes, as earlier releases did: 0x80-0xFF land at U+FF80-U+FFFF.
    line += static_cast<wchar_t>(static_cast<std::uint16_t>(static_cast<signed char>(bytes[i])));
  }
  return line;
}
