// The log reader against logs written by the launcher's own Log.
#include "log_decoder.h"

#include <gtest/gtest.h>

#include "branding.h"
#include "diagnostics/log.h"
#include "platform/platform.h"
#include "support/test_support.h"

using testing_support::ReadBytes;
using testing_support::TempDir;

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

}  // namespace

TEST(LogReader, DecodesWhatTheLauncherWrote) {
  TempDir dir;
  const std::wstring path = (dir / "t.log").wstring();
  {
    Log log(branding::kLogKey);
    log.StartAt(path);
    log.Write(L"curr version: %s", L"2.3.0.0");
    log.Write(L"start get url: %s", L"http://127.0.0.1:8080/app/update.txt");
    log.Write(L"set lib text:%s", L"lib/a.jar;lib/b.jar");
    log.Write(L"FindClass zobj/Run failed\n");
    log.Write(L"exception:%s", L"找不到文件");
  }
  const std::string scrambled = ReadBytes(dir / "t.log");
  ASSERT_FALSE(scrambled.empty());
  ASSERT_EQ(scrambled.find("curr version"), std::string::npos);  // not plain text on disk

  const std::string plain = DecodeLog(scrambled, branding::kLogKey);
  EXPECT_TRUE(LooksLikeLog(plain));
  EXPECT_EQ(plain.find('\r'), std::string::npos);
  std::vector<std::string> lines = Lines(plain);
  const std::vector<std::string> messages = {
      "curr version: 2.3.0.0", "start get url: http://127.0.0.1:8080/app/update.txt",
      "set lib text:lib/a.jar;lib/b.jar", "FindClass zobj/Run failed", "",
      platform::WideToAnsi(L"exception:找不到文件")};
  ASSERT_EQ(lines.size(), messages.size()) << plain;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (messages[i].empty()) {
      EXPECT_EQ(lines[i], "");  // the message's own line feed, then the line's terminator
      continue;
    }
    // "[YYYY-MM-DD hh:mm:ss]" then the message.
    ASSERT_GE(lines[i].size(), 21u);
    EXPECT_EQ(lines[i][0], '[');
    EXPECT_EQ(lines[i][20], ']');
    EXPECT_EQ(lines[i].substr(21), messages[i]);
  }
}

TEST(LogReader, AWrongKeyIsNoticed) {
  TempDir dir;
  const std::wstring path = (dir / "t.log").wstring();
  {
    Log log(branding::kLogKey);
    log.StartAt(path);
    log.Write(L"curr version: %s", L"2.3.0.0");
  }
  const std::string scrambled = ReadBytes(dir / "t.log");
  EXPECT_FALSE(LooksLikeLog(DecodeLog(scrambled, static_cast<std::uint8_t>(branding::kLogKey ^ 0x11))));
  EXPECT_FALSE(LooksLikeLog(scrambled));
}

TEST(LogReader, OnlyCrLfPairsBecomeLineFeeds) {
  std::string plain = "a\r\nb\rc\n\r\n";
  std::string scrambled = plain;
  for (char& c : scrambled) c = static_cast<char>(c ^ 0x3C);
  EXPECT_EQ(DecodeLog(scrambled, 0x3C), "a\nb\rc\n\n");
}

TEST(LogReader, ParseKey) {
  const struct {
    const char* text;
    int expected;  // -1: refused
  } cases[] = {{"0x3C", 0x3C}, {"0X3c", 0x3C}, {"60", 60}, {"0", 0}, {"0xff", 255}, {"255", 255},
               {"256", -1}, {"0x100", -1}, {"", -1}, {"0x", -1}, {"3C", -1}, {"-1", -1}, {"0x3G", -1}};
  for (const auto& c : cases) {
    std::optional<std::uint8_t> key = ParseKey(c.text);
    if (c.expected < 0) EXPECT_FALSE(key.has_value()) << c.text;
    else EXPECT_EQ(key, std::optional<std::uint8_t>(static_cast<std::uint8_t>(c.expected))) << c.text;
  }
}
