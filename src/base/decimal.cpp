#include "base/decimal.h"

#include <limits>

namespace base {
namespace {

template <typename Char>
std::optional<std::uint64_t> Unsigned(std::basic_string_view<Char> text) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  std::uint64_t value = 0;
  for (Char c : text) {
    if (c < Char('0') || c > Char('9')) return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - Char('0'));
    if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

template <typename Char>
bool Md5Hex(std::basic_string_view<Char> text) {
  if (text.size() != 32) return false;
  for (Char c : text)
    if (!((c >= Char('0') && c <= Char('9')) || (c >= Char('a') && c <= Char('f')))) return false;
  return true;
}

}  // namespace

std::optional<std::uint64_t> ParseUnsigned(std::string_view text) { return Unsigned(text); }
std::optional<std::uint64_t> ParseUnsigned(std::wstring_view text) { return Unsigned(text); }

std::optional<std::int64_t> ParseSigned(std::string_view text) {
  const bool negative = !text.empty() && text[0] == '-';
  std::optional<std::uint64_t> magnitude = Unsigned(negative ? text.substr(1) : text);
  if (!magnitude) return std::nullopt;
  const auto limit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (!negative) {
    if (*magnitude > limit) return std::nullopt;
    return static_cast<std::int64_t>(*magnitude);
  }
  if (*magnitude > limit + 1) return std::nullopt;
  return *magnitude == limit + 1 ? std::numeric_limits<std::int64_t>::min()
                                 : -static_cast<std::int64_t>(*magnitude);
}

bool IsMd5Hex(std::string_view text) { return Md5Hex(text); }
bool IsMd5Hex(std::wstring_view text) { return Md5Hex(text); }

}  // namespace base
