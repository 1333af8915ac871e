#include "base/text.h"

#include <gtest/gtest.h>

#include "base/retry.h"

TEST(Text, TrimAndLower) {
  EXPECT_EQ(base::Trim(L" \t\r\n abc d \r\n"), L"abc d");
  EXPECT_EQ(base::Trim(L" \r\n"), L"");
  EXPECT_EQ(base::Trim(L""), L"");
  EXPECT_EQ(base::AsciiLower(L"ABCdef09\u00C4"), L"abcdef09\u00C4");  // only A to Z
}

TEST(Text, Utf8BothWays) {
  const struct {
    std::wstring wide;
    std::string utf8;
  } cases[] = {
      {L"", ""},
      {L"plain", "plain"},
      {L"\u00E9\u5E93", "\xC3\xA9\xE5\xBA\x93"},
      {L"\U0001D11E", "\xF0\x9D\x84\x9E"},  // a surrogate pair on Windows
  };
  for (const auto& c : cases) {
    EXPECT_EQ(base::WideToUtf8(c.wide), c.utf8);
    EXPECT_EQ(base::Utf8ToWide(c.utf8), c.wide);
    EXPECT_TRUE(base::IsValidUtf8(c.utf8));
  }
  // Broken input: one replacement character per offending byte, and not valid.
  for (const std::string& bad : {std::string("a\xC3"), std::string("\xFF"), std::string("\xC0\xAF"),
                                 std::string("\xED\xA0\x80")}) {
    EXPECT_FALSE(base::IsValidUtf8(bad));
    EXPECT_NE(base::Utf8ToWide(bad).find(L'\xFFFD'), std::wstring::npos);
  }
}

TEST(Text, Utf16BothWays) {
  std::wstring text = L"C:\\\u5de5\u4f5c\\\U0001D11E.exe";
  std::u16string units = u"C:\\\u5de5\u4f5c\\\U0001D11E.exe";
  EXPECT_EQ(base::WideToUtf16(text), units);
  EXPECT_EQ(base::Utf16ToWide(units.data(), units.size()), text);
  EXPECT_EQ(base::WideToUtf16(L""), u"");
}

TEST(Retry, StopsAtTheFirstSuccessAndGivesUpAfterThree) {
  int calls = 0;
  EXPECT_TRUE(base::Retry([&] { return ++calls == 2; }));
  EXPECT_EQ(calls, 2);
  calls = 0;
  EXPECT_FALSE(base::Retry([&] { ++calls; return false; }));
  EXPECT_EQ(calls, 3);
}
