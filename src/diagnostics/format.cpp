#include "diagnostics/format.h"

#include <cwchar>

namespace diagnostics {

static std::wstring NumberText(long long value, wchar_t conversion) {
  wchar_t buffer[32];
  switch (conversion) {
    case L'u': std::swprintf(buffer, 32, L"%llu", static_cast<unsigned long long>(value)); break;
    case L'x': std::swprintf(buffer, 32, L"%llx", static_cast<unsigned long long>(value)); break;
    case L'X': std::swprintf(buffer, 32, L"%llX", static_cast<unsigned long long>(value)); break;
    case L'c': buffer[0] = static_cast<wchar_t>(value); buffer[1] = 0; break;
    default: std::swprintf(buffer, 32, L"%lld", value); break;
  }
  return buffer;
}

std::wstring FormatWide(const wchar_t* format, std::initializer_list<FormatArg> args) {
  std::wstring out;
  if (format == nullptr) return out;
  const FormatArg* next = args.begin();
  for (const wchar_t* p = format; *p != 0; ++p) {
    if (*p != L'%') {
      out += *p;
      continue;
    }
    const wchar_t* start = p++;
    if (*p == L'%') {
      out += L'%';
      continue;
    }
    bool left = false, zero = false;
    for (;; ++p) {
      if (*p == L'-') left = true;
      else if (*p == L'0') zero = true;
      else break;
    }
    size_t width = 0;
    while (*p >= L'0' && *p <= L'9') width = width * 10 + static_cast<size_t>(*p++ - L'0');
    while (*p == L'l' || *p == L'h') ++p;  // length modifiers carry no meaning here
    wchar_t conversion = *p;
    if (conversion == 0 || std::wcschr(L"sdiuxXc", conversion) == nullptr) {
      out.append(start, p + (conversion == 0 ? 0 : 1));
      if (conversion == 0) break;
      continue;
    }
    std::wstring piece;
    bool numeric = false;
    if (next != args.end()) {
      const FormatArg& arg = *next++;
      if (arg.IsText() || conversion == L's') {
        piece = arg.IsText() ? arg.Text() : NumberText(arg.Number(), L'd');
      } else {
        piece = NumberText(arg.Number(), conversion);
        numeric = conversion != L'c';
      }
    }
    if (piece.size() < width) {
      size_t pad = width - piece.size();
      if (left) piece.append(pad, L' ');
      else if (zero && numeric) {
        size_t sign = (!piece.empty() && piece[0] == L'-') ? 1 : 0;
        piece.insert(sign, pad, L'0');
      } else piece.insert(0, pad, L' ');
    }
    out += piece;
  }
  return out;
}

}  // namespace diagnostics
