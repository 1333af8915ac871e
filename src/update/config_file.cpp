#include "update/config_file.h"

#include "base/text.h"
#include "diagnostics/log.h"
#include "platform/platform.h"

namespace {

bool StartsWith(const std::string& bytes, const char* mark) { return bytes.rfind(mark, 0) == 0; }

// The first line of UTF-16 text (after its byte order mark), code unit by code unit.
std::wstring FirstUtf16Line(const std::string& bytes, std::size_t start, bool bigEndian) {
  std::u16string units;
  for (std::size_t i = start; i + 1 < bytes.size(); i += 2) {
    auto hi = static_cast<unsigned char>(bytes[bigEndian ? i : i + 1]);
    auto lo = static_cast<unsigned char>(bytes[bigEndian ? i + 1 : i]);
    char16_t unit = static_cast<char16_t>((hi << 8) | lo);
    if (unit == u'\r' || unit == u'\n') break;
    units += unit;
  }
  return base::Utf16ToWide(units.data(), units.size());
}

// The first line of the file's bytes as text. Notepad writes "ANSI", UTF-8 with or without
// a byte order mark, and "Unicode" (UTF-16 with a mark, little- or big-endian). Without a
// mark the line is taken as UTF-8 when it is well-formed UTF-8 (plain ASCII always is, and
// stays as it was), else in the ANSI code page, which is what Notepad's "ANSI" means. (Earlier
// releases widened each byte as a signed char, which made any non-ASCII byte unusable.)
std::wstring FirstLine(const std::string& bytes) {
  if (StartsWith(bytes, "\xFF\xFE")) return FirstUtf16Line(bytes, 2, false);
  if (StartsWith(bytes, "\xFE\xFF")) return FirstUtf16Line(bytes, 2, true);
  std::size_t start = StartsWith(bytes, "\xEF\xBB\xBF") ? 3 : 0;
  std::string line = bytes.substr(start, bytes.find_first_of("\r\n", start) - start);
  return base::IsValidUtf8(line) ? base::Utf8ToWide(line) : platform::ThreadAnsiToWide(line);
}

}  // namespace

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

bool IsServerUrl(const std::wstring& line) {
  std::wstring lower = base::AsciiLower(line.substr(0, 8));
  std::size_t host = lower.rfind(L"http://", 0) == 0 ? 7 : lower.rfind(L"https://", 0) == 0 ? 8 : 0;
  return host != 0 && host < line.size() && line[host] != L'/';
}

std::variant<std::wstring, UpdateFailure> ReadConfigLine(const std::wstring& configPath) {
  platform::Error err;
  std::string bytes;
  // Other readers are welcome (a second launcher starting at the same moment); an editor
  // saving the file meanwhile is not.
  if (!platform::ReadFileStart(configPath, 1024, &bytes, &err, platform::OpenMode::kReadDenyWriters)) {
    LogException(err);
    return UpdateFailure::kConfigFile;
  }
  std::wstring line = base::Trim(FirstLine(bytes));
  if (!IsServerUrl(line)) {
    theLog.Write(L"invalid config line: %s", line.substr(0, 64));
    return UpdateFailure::kConfigContent;
  }
  return line;
}
