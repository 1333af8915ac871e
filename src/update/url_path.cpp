#include "update/url_path.h"

#include "base/text.h"

namespace {

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

}  // namespace

std::wstring PercentEncodePath(const std::wstring& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::wstring url;
  for (unsigned char c : base::WideToUtf8(path)) {
    if (IsUnreserved(c) || c == '/') {
      url += static_cast<wchar_t>(c);
    } else {
      url += L'%';
      url += static_cast<wchar_t>(kHex[c >> 4]);
      url += static_cast<wchar_t>(kHex[c & 0xF]);
    }
  }
  return url;
}
