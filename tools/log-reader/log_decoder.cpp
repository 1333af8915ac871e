#include "log_decoder.h"

#include <cctype>

std::string DecodeLog(const std::string& scrambled, std::uint8_t key) {
  std::string plain;
  plain.reserve(scrambled.size());
  for (size_t i = 0; i < scrambled.size(); ++i) {
    char c = static_cast<char>(static_cast<std::uint8_t>(scrambled[i]) ^ key);
    if (c == '\n' && !plain.empty() && plain.back() == '\r') plain.back() = '\n';
    else plain += c;
  }
  return plain;
}

bool LooksLikeLog(const std::string& plain) {
  if (plain.size() < 6 || plain[0] != '[') return false;
  for (int i = 1; i <= 4; ++i)
    if (!std::isdigit(static_cast<unsigned char>(plain[i]))) return false;
  return plain[5] == '-';
}

std::optional<std::uint8_t> ParseKey(const std::string& text) {
  if (text.empty()) return std::nullopt;
  int base = 10;
  size_t start = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    start = 2;
  }
  unsigned value = 0;
  for (size_t i = start; i < text.size(); ++i) {
    int digit;
    char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else return std::nullopt;
    value = value * base + digit;
    if (value > 0xFF) return std::nullopt;
  }
  return static_cast<std::uint8_t>(value);
}
