// Small text vocabulary shared by every layer: trimming, ASCII case, and the Unicode
// conversions between wide text (UTF-16 on Windows, UTF-32 on Linux), UTF-8 and UTF-16.
// Pure functions: nothing here calls the operating system.
#pragma once

#include <string>

namespace base {

// White space (as iswspace sees it) removed at both ends.
std::wstring Trim(const std::wstring& text);

// A to Z lowered; every other character as it is.
std::wstring AsciiLower(std::wstring text);

// Wide text as UTF-8. Characters that are no Unicode scalar value become '?'.
std::string WideToUtf8(const std::wstring& text);
// UTF-8 as wide text. Invalid sequences become U+FFFD, one per offending byte.
std::wstring Utf8ToWide(const std::string& bytes);
// Whether the bytes are well-formed UTF-8 (ASCII included).
bool IsValidUtf8(const std::string& bytes);

// Wide text as UTF-16 code units, the form a Java string is made from.
std::u16string WideToUtf16(const std::wstring& text);
// UTF-16 code units as wide text; unpaired surrogates are kept as they are on Windows and
// become U+FFFD where wchar_t holds code points.
std::wstring Utf16ToWide(const char16_t* units, std::size_t count);

}  // namespace base
