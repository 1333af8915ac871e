#include "update/config_file.h"

#include <gtest/gtest.h>

#include "branding.h"
#include "diagnostics/log.h"
#include "platform/platform.h"
#include "support/test_support.h"

using testing_support::DecodeLogLines;
using testing_support::NativeSeparators;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {
struct ConfigCase {
  const char* name;
  std::string bytes;
  std::wstring mainUrl, versionUrl, libsUrl, jarName;
};
}  // namespace

TEST(Config, FirstLineGivesUrlsAndJarName) {
  const std::string url = "http://127.0.0.1:8000/app/main.jar";
  const std::wstring w = L"http://127.0.0.1:8000/app/";
  std::string long_line = "http://h/" + std::string(1200, 'x');
  ConfigCase cases[] = {
      {"CR LF and more lines", url + "\r\nsecond line\r\n", w + L"main.jar", w + L"update.txt", w + L"libs.txt", L"main.jar"},
      {"LF alone", url + "\nrest", w + L"main.jar", w + L"update.txt", w + L"libs.txt", L"main.jar"},
      {"CR alone", url + "\rrest", w + L"main.jar", w + L"update.txt", w + L"libs.txt", L"main.jar"},
      {"no line end", url, w + L"main.jar", w + L"update.txt", w + L"libs.txt", L"main.jar"},
      {"empty file", "", L"", L"", L"", L""},
      {"starts with a line end", "\r\n" + url, L"", L"", L"", L""},
      {"no slash", "main.jar\r\n", L"main.jar", L"", L"", L""},
      {"trailing slash", "http://h/app/\n", L"http://h/app/", L"http://h/app/update.txt", L"http://h/app/libs.txt", L""},
      {"spaces kept", "  http://h/a b/m.jar \t\n", L"  http://h/a b/m.jar \t", L"  http://h/a b/update.txt",
       L"  http://h/a b/libs.txt", L"m.jar \t"},
      {"cut at 1024 bytes", long_line, L"http://h/" + std::wstring(1015, L'x'), L"http://h/update.txt",
       L"http://h/libs.txt", std::wstring(1015, L'x')},
  };
  TempDir dir;
  for (const auto& c : cases) {
    WriteBytes(dir / "Config.ini", c.bytes);
    std::optional<std::wstring> line = ReadConfigLine((dir / "Config.ini").wstring());
    ASSERT_TRUE(line.has_value()) << c.name;
    ServerLocations where = LocationsFromConfigLine(*line);
    EXPECT_EQ(where.mainUrl, c.mainUrl) << c.name;
    EXPECT_EQ(where.versionUrl, c.versionUrl) << c.name;
    EXPECT_EQ(where.libsUrl, c.libsUrl) << c.name;
    EXPECT_EQ(where.jarName, c.jarName) << c.name;
  }
}

TEST(Config, PackageUrlSitsBesideTheJar) {
  const std::wstring md5 = L"0123456789abcdef0123456789abcdef";
  EXPECT_EQ(LocationsFromConfigLine(L"http://h/app/main.jar").PackageUrl(md5), L"http://h/app/" + md5 + L".pak");
  EXPECT_EQ(LocationsFromConfigLine(L"http://h/app/").PackageUrl(md5), L"http://h/app/" + md5 + L".pak");
  // Without a slash there is no folder to put it in: the line stays as it is.
  EXPECT_EQ(LocationsFromConfigLine(L"main.jar").PackageUrl(md5), L"main.jar");
}

TEST(Config, MissingFileFailsWithOneLogLine) {
  TempDir dir;
  theLog.StartAt((dir / "t.log").wstring());
  EXPECT_EQ(ReadConfigLine((dir / "Config.ini").wstring()), std::nullopt);
  auto lines = DecodeLogLines(dir / "t.log", branding::kLogKey);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(21, 10), "exception:");
  EXPECT_GT(lines[0].size(), 31u) << "the system's message is missing";
  theLog.StartAt(L"");
}

TEST(Config, TheFileLiesBesideTheExecutable) {
  const struct {
    std::wstring exe, config;
  } cases[] = {
      {L"C:\\Apps\\Tool\\Launcher.exe", L"C:\\Apps\\Tool\\Config.ini"},
      {L"C:\\Launcher.exe", L"C:\\Config.ini"},
      {L"Launcher.exe", L""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ConfigFilePath(NativeSeparators(c.exe)), NativeSeparators(c.config)) << platform::WideToUtf8(c.exe);
}
