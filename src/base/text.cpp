#include "base/text.h"

#include <cstdint>
#include <cwctype>

namespace base {

namespace {

constexpr bool kWideIsUtf16 = sizeof(wchar_t) == sizeof(char16_t);

bool IsSurrogate(std::uint32_t c) { return c >= 0xD800 && c <= 0xDFFF; }
bool IsHighSurrogate(std::uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(std::uint32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Calls `emit` with each code point of wide text; surrogate pairs (Windows) are joined,
// anything that is no scalar value is passed on as 0xFFFFFFFF.
template <typename Emit>
void ForEachCodePoint(const std::wstring& text, Emit emit) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<std::uint32_t>(text[i]);
    if constexpr (kWideIsUtf16) {
      c &= 0xFFFF;
      if (IsHighSurrogate(c) && i + 1 < text.size() &&
          IsLowSurrogate(static_cast<std::uint32_t>(text[i + 1]) & 0xFFFF)) {
        c = 0x10000 + ((c - 0xD800) << 10) + ((static_cast<std::uint32_t>(text[i + 1]) & 0xFFFF) - 0xDC00);
        ++i;
      } else if (IsSurrogate(c)) {
        c = 0xFFFFFFFF;
      }
    } else if (c > 0x10FFFF || IsSurrogate(c)) {
      c = 0xFFFFFFFF;
    }
    emit(c);
  }
}

void AppendWide(std::wstring& out, std::uint32_t c) {
  if constexpr (kWideIsUtf16) {
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (c >> 10));
      out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
      return;
    }
  }
  out += static_cast<wchar_t>(c);
}

// Length of the UTF-8 sequence at bytes[i] and its code point; 0 when it is not valid.
std::size_t DecodeUtf8(const std::string& bytes, std::size_t i, std::uint32_t* out) {
  auto b = static_cast<unsigned char>(bytes[i]);
  std::uint32_t c;
  std::size_t len;
  if (b < 0x80) { *out = b; return 1; }
  if ((b & 0xE0) == 0xC0) { c = b & 0x1F; len = 2; }
  else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; len = 3; }
  else if ((b & 0xF8) == 0xF0) { c = b & 0x07; len = 4; }
  else return 0;
  if (i + len > bytes.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    auto cb = static_cast<unsigned char>(bytes[i + k]);
    if ((cb & 0xC0) != 0x80) return 0;
    c = (c << 6) | (cb & 0x3F);
  }
  static const std::uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kMin[len] || c > 0x10FFFF || IsSurrogate(c)) return 0;
  *out = c;
  return len;
}

}  // namespace

std::wstring Trim(const std::wstring& text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && std::iswspace(text[begin])) ++begin;
  while (end > begin && std::iswspace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::wstring AsciiLower(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return text;
}

std::string WideToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  ForEachCodePoint(text, [&](std::uint32_t c) {
    if (c == 0xFFFFFFFF) c = '?';
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  });
  return out;
}

std::wstring Utf8ToWide(const std::string& bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    std::uint32_t c = 0;
    std::size_t len = DecodeUtf8(bytes, i, &c);
    if (len == 0) {
      out += L'\xFFFD';
      ++i;
      continue;
    }
    AppendWide(out, c);
    i += len;
  }
  return out;
}

bool IsValidUtf8(const std::string& bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    std::uint32_t c = 0;
    std::size_t len = DecodeUtf8(bytes, i, &c);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::u16string WideToUtf16(const std::wstring& text) {
  std::u16string units;
  units.reserve(text.size());
  if constexpr (kWideIsUtf16) {
    for (wchar_t c : text) units += static_cast<char16_t>(c);
    return units;
  }
  ForEachCodePoint(text, [&](std::uint32_t c) {
    if (c == 0xFFFFFFFF) c = 0xFFFD;
    if (c >= 0x10000) {
      c -= 0x10000;
      units += static_cast<char16_t>(0xD800 + (c >> 10));
      units += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      units += static_cast<char16_t>(c);
    }
  });
  return units;
}

std::wstring Utf16ToWide(const char16_t* units, std::size_t count) {
  std::wstring text;
  text.reserve(count);
  if constexpr (kWideIsUtf16) {
    text.assign(reinterpret_cast<const wchar_t*>(units), count);
    return text;
  }
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t c = units[i];
    if (IsHighSurrogate(c) && i + 1 < count && IsLowSurrogate(units[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
      ++i;
    } else if (IsSurrogate(c)) {
      c = 0xFFFD;
    }
    text += static_cast<wchar_t>(c);
  }
  return text;
}

}  // namespace base
