#include "diagnostics/format.h"

#include <gtest/gtest.h>

using diagnostics::FormatWide;

TEST(FormatWide, ConversionsFlagsAndWidths) {
  EXPECT_EQ(FormatWide(L"start get url: %s", {L"http://h/a"}), L"start get url: http://h/a");
  EXPECT_EQ(FormatWide(L"[%d-%02d-%02d %02d:%02d:%02d]", {2026, 9, 1, 0, 5, 59}),
            L"[2026-09-01 00:05:59]");
  EXPECT_EQ(FormatWide(L"%d%%   %s", {50, L"|"}), L"50%   |");
  EXPECT_EQ(FormatWide(L"%5d|%-5d|%05d|%05d", {42, 42, 42, -42}), L"   42|42   |00042|-0042");
  EXPECT_EQ(FormatWide(L"%u %x %X %c", {4000000000u, 255, 255, int{L'Z'}}), L"4000000000 ff FF Z");
  EXPECT_EQ(FormatWide(L"%ls and %s", {std::wstring(L"wide"), L"\x4E2D\x6587"}), L"wide and \x4E2D\x6587");
  EXPECT_EQ(FormatWide(L"invalid http statue: %d from:%s", {404, L"u"}), L"invalid http statue: 404 from:u");
}

TEST(FormatWide, MismatchedArgumentsNeverReadPastTheList) {
  EXPECT_EQ(FormatWide(L"%s %d", {L"only"}), L"only ");       // missing argument: nothing
  EXPECT_EQ(FormatWide(L"%d", {L"text"}), L"text");           // wrong kind: its text
  EXPECT_EQ(FormatWide(L"%s", {7}), L"7");
  EXPECT_EQ(FormatWide(L"%s", {static_cast<const wchar_t*>(nullptr)}), L"(null)");
  EXPECT_EQ(FormatWide(L"100% %q and %", {}), L"100% %q and %");  // unknown: copied
  EXPECT_EQ(FormatWide(L"plain", {1, 2}), L"plain");
  EXPECT_EQ(FormatWide(nullptr, {}), L"");
}
