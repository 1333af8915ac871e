// Decimal numbers and hexadecimal digests as the launcher's files and servers write them.
// One reading of each, strict: a text is the number (or digest) whole, or it is nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace base {

// 1 to 19 ASCII digits whose value fits in 64 bits; nothing for anything else (empty text,
// a sign, white space, a second number after a space).
std::optional<std::uint64_t> ParseUnsigned(std::string_view text);
std::optional<std::uint64_t> ParseUnsigned(std::wstring_view text);
// The same with an optional leading '-', within the range of std::int64_t.
std::optional<std::int64_t> ParseSigned(std::string_view text);

// Whether the text is an MD5 digest as the launcher writes and compares it: 32 lowercase
// hexadecimal digits.
bool IsMd5Hex(std::string_view text);
bool IsMd5Hex(std::wstring_view text);

}  // namespace base
