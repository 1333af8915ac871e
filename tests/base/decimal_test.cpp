#include "base/decimal.h"

#include <gtest/gtest.h>

#include <limits>

TEST(Decimal, OnlyWholeNumbersOfDigits) {
  struct Case {
    const char* text;
    std::optional<std::uint64_t> value;
  } cases[] = {
      {"0", 0},
      {"007", 7},
      {"18446744073709551615", std::numeric_limits<std::uint64_t>::max()},
      {"18446744073709551616", std::nullopt},  // one past the largest
      {"", std::nullopt},
      {"-1", std::nullopt},
      {"+1", std::nullopt},
      {"12 34", std::nullopt},
      {" 12", std::nullopt},
      {"12a", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(base::ParseUnsigned(std::string_view(c.text)), c.value) << c.text;
    std::wstring wide(c.text, c.text + std::char_traits<char>::length(c.text));
    EXPECT_EQ(base::ParseUnsigned(std::wstring_view(wide)), c.value) << c.text;
  }
  EXPECT_EQ(base::ParseSigned("-5"), -5);
  EXPECT_EQ(base::ParseSigned("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(base::ParseSigned("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(base::ParseSigned("9223372036854775808"), std::nullopt);
  EXPECT_EQ(base::ParseSigned("-"), std::nullopt);
  EXPECT_EQ(base::ParseSigned("--1"), std::nullopt);
}

TEST(Decimal, Md5HexIsThirtyTwoLowercaseDigits) {
  EXPECT_TRUE(base::IsMd5Hex(std::string_view("0123456789abcdef0123456789abcdef")));
  EXPECT_TRUE(base::IsMd5Hex(std::wstring_view(L"0123456789abcdef0123456789abcdef")));
  EXPECT_FALSE(base::IsMd5Hex(std::string_view("0123456789ABCDEF0123456789abcdef")));
  EXPECT_FALSE(base::IsMd5Hex(std::string_view("0123456789abcdef0123456789abcde")));
  EXPECT_FALSE(base::IsMd5Hex(std::string_view("0123456789abcdef0123456789abcdeg")));
  EXPECT_FALSE(base::IsMd5Hex(std::string_view("")));
}
