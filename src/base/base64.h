// RFC 4648 base64 with padding, as in PEM bodies and signature files: the same on every
// platform, so that text written on one decodes byte for byte on the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace base {

std::string Base64Encode(const void* data, std::size_t size);
// Strict: only the canonical encoding (padding present, unused bits zero, no white space)
// is accepted; nothing otherwise.
std::optional<std::vector<std::uint8_t>> Base64Decode(std::string_view text);

}  // namespace base
