#include "update/url_path.h"

#include <gtest/gtest.h>

namespace {

TEST(UrlPath, EverythingButUnreservedCharactersIsPercentEncodedSegmentBySegment) {
  const struct {
    std::wstring path;
    std::wstring url;
  } cases[] = {
      {L"lib/x.jar", L"lib/x.jar"},
      {L"A-Z_a-z.0-9~/x", L"A-Z_a-z.0-9~/x"},
      {L"lib/a b.jar", L"lib/a%20b.jar"},
      {L"lib/\x5E93.jar", L"lib/%E5%BA%93.jar"},       // a CJK character: three UTF-8 bytes
      {L"lib/\xE9.jar", L"lib/%C3%A9.jar"},            // e acute: two, never the Latin-1 byte
      {L"\x5E93/\x6587\x4EF6/x.jar", L"%E5%BA%93/%E6%96%87%E4%BB%B6/x.jar"},
      {L"lib/100%.jar", L"lib/100%25.jar"},            // a '%' is no escape of its own
      {L"lib/x#1.jar", L"lib/x%231.jar"},              // nor is '#' the start of a fragment
      {L"lib/x?v=1&y+z;w.jar", L"lib/x%3Fv%3D1%26y%2Bz%3Bw.jar"},
      {L"lib/(1)[2]{3}'$!@,.jar", L"lib/%281%29%5B2%5D%7B3%7D%27%24%21%40%2C.jar"},
      {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(PercentEncodePath(c.path), c.url);
  // Beyond the 16-bit plane: four UTF-8 bytes (a surrogate pair on Windows).
  std::wstring emoji = sizeof(wchar_t) == 2 ? std::wstring(L"\xD83D\xDE00") : std::wstring(1, static_cast<wchar_t>(0x1F600));
  EXPECT_EQ(PercentEncodePath(L"lib/" + emoji + L".jar"), L"lib/%F0%9F%98%80.jar");
}

}  // namespace
