#include "update/config_file.h"

#include <gtest/gtest.h>

#include "base/text.h"
#include "branding.h"
#include "diagnostics/log.h"
#include "launch/user_texts.h"
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

// The line as the run reads it; empty when the file gives no line.
std::wstring LineOf(const std::variant<std::wstring, UpdateFailure>& read) {
  return std::holds_alternative<std::wstring>(read) ? std::get<std::wstring>(read) : L"";
}

TEST(Config, FirstLineGivesUrlsAndJarName) {
  const std::string url = "http://127.0.0.1:8000/app/main.jar";
  const std::wstring w = L"http://127.0.0.1:8000/app/";
  std::string long_line = "http://h/" + std::string(1200, 'x');
  ConfigCase cases[] = {
      {"CR LF and more lines", url + "\r\nsecond line\r\n", w + L"main.jar", w + L"update.txt", w + L"libs.txt", L"main.jar"},
      {"LF alone", url + "\nrest", w + L"main.jar", w + L"update.txt", w + L"libs.txt", L"main.jar"},
      {"CR alone", url + "\rrest", w + L"main.jar", w + L"update.txt", w + L"libs.txt", L"main.jar"},
      {"no line end", url, w + L"main.jar", w + L"update.txt", w + L"libs.txt", L"main.jar"},
      {"trailing slash", "http://h/app/\n", L"http://h/app/", L"http://h/app/update.txt", L"http://h/app/libs.txt", L""},
      {"white space around the line", "  http://h/a b/m.jar \t\n", L"http://h/a b/m.jar", L"http://h/a b/update.txt",
       L"http://h/a b/libs.txt", L"m.jar"},
      {"cut at 1024 bytes", long_line, L"http://h/" + std::wstring(1015, L'x'), L"http://h/update.txt",
       L"http://h/libs.txt", std::wstring(1015, L'x')},
  };
  TempDir dir;
  for (const auto& c : cases) {
    WriteBytes(dir / "Config.ini", c.bytes);
    std::variant<std::wstring, UpdateFailure> line = ReadConfigLine((dir / "Config.ini").wstring());
    ASSERT_TRUE(std::holds_alternative<std::wstring>(line)) << c.name;
    ServerLocations where = LocationsFromConfigLine(std::get<std::wstring>(line));
    EXPECT_EQ(where.mainUrl, c.mainUrl) << c.name;
    EXPECT_EQ(where.versionUrl, c.versionUrl) << c.name;
    EXPECT_EQ(where.libsUrl, c.libsUrl) << c.name;
    EXPECT_EQ(where.jarName, c.jarName) << c.name;
  }
}

// Config.ini as Notepad saves it: with a byte order mark, as UTF-16, in the ANSI code page.
TEST(Config, EncodingsOfTheLine) {
  const std::wstring url = L"http://h.example/app/main.jar";
  // "http://h.example/应用/main.jar" in the ANSI code page of the tests (GBK on Windows,
  // UTF-8 on Linux, where an ANSI file is a UTF-8 file).
  const std::wstring chinese = L"http://h.example/\u5e94\u7528/main.jar";
  const std::string ansiChinese = platform::WideToAnsi(chinese);
  auto utf16 = [](const std::wstring& text, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t unit : base::WideToUtf16(text)) {
      char hi = static_cast<char>(unit >> 8), lo = static_cast<char>(unit & 0xFF);
      bytes += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    }
    return bytes;
  };
  const struct {
    const char* name;
    std::string bytes;
    std::wstring line;
  } cases[] = {
      {"plain ASCII", "http://h.example/app/main.jar\r\n", url},
      {"UTF-8 with its mark", "\xEF\xBB\xBFhttp://h.example/app/main.jar\r\n", url},
      {"UTF-8 with its mark and spaces", "\xEF\xBB\xBF  http://h.example/app/main.jar  \r\n", url},
      {"UTF-8 Chinese without a mark", base::WideToUtf8(chinese) + "\r\n", chinese},
      {"UTF-8 Chinese with its mark", "\xEF\xBB\xBF" + base::WideToUtf8(chinese), chinese},
      {"ANSI Chinese", ansiChinese + "\r\n", chinese},
      {"UTF-16LE with its mark", utf16(url + L"\r\nsecond line\r\n", false), url},
      {"UTF-16LE Chinese, spaces around", utf16(L" \t" + chinese + L" \r\n", false), chinese},
      {"UTF-16BE with its mark", utf16(url + L"\n", true), url},
      {"upper-case scheme", "HTTPS://h.example/app/main.jar", L"HTTPS://h.example/app/main.jar"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    WriteBytes(dir / "Config.ini", c.bytes);
    EXPECT_EQ(LineOf(ReadConfigLine((dir / "Config.ini").wstring())), c.line) << c.name;
  }
}

// A line that is still no server's URL is the file's fault, not the server's: it gets its
// own failure (and box text), and the line goes to the log.
TEST(Config, LineThatIsNoUrlIsItsOwnFailure) {
  const struct {
    const char* name;
    std::string bytes;
    std::string logged;
  } cases[] = {
      {"empty file", "", ""},
      {"only white space", " \t\r\n", ""},
      {"starts with a line end", "\r\nhttp://h/app/main.jar", ""},
      {"no scheme", "h.example/app/main.jar\r\n", "h.example/app/main.jar"},
      {"no slash", "main.jar\r\n", "main.jar"},
      {"another scheme", "ftp://h/app/main.jar", "ftp://h/app/main.jar"},
      {"no host", "http:///app/main.jar", "http:///app/main.jar"},
      {"scheme alone", "https://", "https://"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    WriteBytes(dir / "Config.ini", c.bytes);
    theLog.StartAt((dir / "t.log").wstring());
    std::variant<std::wstring, UpdateFailure> read = ReadConfigLine((dir / "Config.ini").wstring());
    ASSERT_TRUE(std::holds_alternative<UpdateFailure>(read)) << c.name;
    EXPECT_EQ(std::get<UpdateFailure>(read), UpdateFailure::kConfigContent) << c.name;
    auto lines = DecodeLogLines(dir / "t.log", branding::kLogKey);
    ASSERT_EQ(lines.size(), 1u) << c.name;
    EXPECT_EQ(lines[0].substr(21), "invalid config line: " + c.logged) << c.name;
  }
  theLog.StartAt(L"");
  EXPECT_EQ(std::wstring(user_texts::ForUpdateFailure(UpdateFailure::kConfigContent)), L"本地配置文件内容有误！");
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
  std::variant<std::wstring, UpdateFailure> read = ReadConfigLine((dir / "Config.ini").wstring());
  ASSERT_TRUE(std::holds_alternative<UpdateFailure>(read));
  EXPECT_EQ(std::get<UpdateFailure>(read), UpdateFailure::kConfigFile);
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
    EXPECT_EQ(ConfigFilePath(NativeSeparators(c.exe)), NativeSeparators(c.config)) << base::WideToUtf8(c.exe);
}
