// RFC 1321 MD5.
#include "update/md5_checksum.h"

#include <cstring>
#include <vector>

namespace {

inline std::uint32_t Rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline std::uint32_t LoadLe(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
         (std::uint32_t(p[3]) << 24);
}

// 64 KiB: large enough that the system call cost vanishes, fixed whatever the file size.
constexpr std::size_t kReadSize = 64 * 1024;

}  // namespace

CMD5Checksum::CMD5Checksum() : block_{}, state_{0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u} {}

void CMD5Checksum::ProcessBlock(const std::uint8_t* in) {
  std::uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadLe(in + 4 * i);
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];

#define MD5_STEP(f, a, b, c, d, xk, s, t) a = b + Rotl(a + f(b, c, d) + xk + t, s)
#define F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define H(x, y, z) ((x) ^ (y) ^ (z))
#define I(x, y, z) ((y) ^ ((x) | ~(z)))
  MD5_STEP(F, a, b, c, d, x[0], 7, 0xd76aa478); MD5_STEP(F, d, a, b, c, x[1], 12, 0xe8c7b756);
  MD5_STEP(F, c, d, a, b, x[2], 17, 0x242070db); MD5_STEP(F, b, c, d, a, x[3], 22, 0xc1bdceee);
  MD5_STEP(F, a, b, c, d, x[4], 7, 0xf57c0faf); MD5_STEP(F, d, a, b, c, x[5], 12, 0x4787c62a);
  MD5_STEP(F, c, d, a, b, x[6], 17, 0xa8304613); MD5_STEP(F, b, c, d, a, x[7], 22, 0xfd469501);
  MD5_STEP(F, a, b, c, d, x[8], 7, 0x698098d8); MD5_STEP(F, d, a, b, c, x[9], 12, 0x8b44f7af);
  MD5_STEP(F, c, d, a, b, x[10], 17, 0xffff5bb1); MD5_STEP(F, b, c, d, a, x[11], 22, 0x895cd7be);
  MD5_STEP(F, a, b, c, d, x[12], 7, 0x6b901122); MD5_STEP(F, d, a, b, c, x[13], 12, 0xfd987193);
  MD5_STEP(F, c, d, a, b, x[14], 17, 0xa679438e); MD5_STEP(F, b, c, d, a, x[15], 22, 0x49b40821);

  MD5_STEP(G, a, b, c, d, x[1], 5, 0xf61e2562); MD5_STEP(G, d, a, b, c, x[6], 9, 0xc040b340);
  MD5_STEP(G, c, d, a, b, x[11], 14, 0x265e5a51); MD5_STEP(G, b, c, d, a, x[0], 20, 0xe9b6c7aa);
  MD5_STEP(G, a, b, c, d, x[5], 5, 0xd62f105d); MD5_STEP(G, d, a, b, c, x[10], 9, 0x02441453);
  MD5_STEP(G, c, d, a, b, x[15], 14, 0xd8a1e681); MD5_STEP(G, b, c, d, a, x[4], 20, 0xe7d3fbc8);
  MD5_STEP(G, a, b, c, d, x[9], 5, 0x21e1cde6); MD5_STEP(G, d, a, b, c, x[14], 9, 0xc33707d6);
  MD5_STEP(G, c, d, a, b, x[3], 14, 0xf4d50d87); MD5_STEP(G, b, c, d, a, x[8], 20, 0x455a14ed);
  MD5_STEP(G, a, b, c, d, x[13], 5, 0xa9e3e905); MD5_STEP(G, d, a, b, c, x[2], 9, 0xfcefa3f8);
  MD5_STEP(G, c, d, a, b, x[7], 14, 0x676f02d9); MD5_STEP(G, b, c, d, a, x[12], 20, 0x8d2a4c8a);

  MD5_STEP(H, a, b, c, d, x[5], 4, 0xfffa3942); MD5_STEP(H, d, a, b, c, x[8], 11, 0x8771f681);
  MD5_STEP(H, c, d, a, b, x[11], 16, 0x6d9d6122); MD5_STEP(H, b, c, d, a, x[14], 23, 0xfde5380c);
  MD5_STEP(H, a, b, c, d, x[1], 4, 0xa4beea44); MD5_STEP(H, d, a, b, c, x[4], 11, 0x4bdecfa9);
  MD5_STEP(H, c, d, a, b, x[7], 16, 0xf6bb4b60); MD5_STEP(H, b, c, d, a, x[10], 23, 0xbebfbc70);
  MD5_STEP(H, a, b, c, d, x[13], 4, 0x289b7ec6); MD5_STEP(H, d, a, b, c, x[0], 11, 0xeaa127fa);
  MD5_STEP(H, c, d, a, b, x[3], 16, 0xd4ef3085); MD5_STEP(H, b, c, d, a, x[6], 23, 0x04881d05);
  MD5_STEP(H, a, b, c, d, x[9], 4, 0xd9d4d039); MD5_STEP(H, d, a, b, c, x[12], 11, 0xe6db99e5);
  MD5_STEP(H, c, d, a, b, x[15], 16, 0x1fa27cf8); MD5_STEP(H, b, c, d, a, x[2], 23, 0xc4ac5665);

  MD5_STEP(I, a, b, c, d, x[0], 6, 0xf4292244); MD5_STEP(I, d, a, b, c, x[7], 10, 0x432aff97);
  MD5_STEP(I, c, d, a, b, x[14], 15, 0xab9423a7); MD5_STEP(I, b, c, d, a, x[5], 21, 0xfc93a039);
  MD5_STEP(I, a, b, c, d, x[12], 6, 0x655b59c3); MD5_STEP(I, d, a, b, c, x[3], 10, 0x8f0ccc92);
  MD5_STEP(I, c, d, a, b, x[10], 15, 0xffeff47d); MD5_STEP(I, b, c, d, a, x[1], 21, 0x85845dd1);
  MD5_STEP(I, a, b, c, d, x[8], 6, 0x6fa87e4f); MD5_STEP(I, d, a, b, c, x[15], 10, 0xfe2ce6e0);
  MD5_STEP(I, c, d, a, b, x[6], 15, 0xa3014314); MD5_STEP(I, b, c, d, a, x[13], 21, 0x4e0811a1);
  MD5_STEP(I, a, b, c, d, x[4], 6, 0xf7537e82); MD5_STEP(I, d, a, b, c, x[11], 10, 0xbd3af235);
  MD5_STEP(I, c, d, a, b, x[2], 15, 0x2ad7d2bb); MD5_STEP(I, b, c, d, a, x[9], 21, 0xeb86d391);
#undef MD5_STEP
#undef F
#undef G
#undef H
#undef I

  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

void CMD5Checksum::Absorb(const std::uint8_t* input, std::size_t length) {
  std::size_t used = static_cast<std::size_t>((bitCount_ >> 3) & 63);
  bitCount_ += static_cast<std::uint64_t>(length) << 3;
  std::size_t i = 0;
  if (used != 0) {
    std::size_t fill = 64 - used;
    if (length < fill) {
      std::memcpy(block_ + used, input, length);
      return;
    }
    std::memcpy(block_ + used, input, fill);
    ProcessBlock(block_);
    i = fill;
  }
  for (; i + 64 <= length; i += 64) ProcessBlock(input + i);  // straight from the input
  std::memcpy(block_, input + i, length - i);
}

std::wstring CMD5Checksum::Finish() {
  std::uint8_t length[8];
  for (int i = 0; i < 8; ++i) length[i] = static_cast<std::uint8_t>(bitCount_ >> (8 * i));
  static const std::uint8_t kPadding[64] = {0x80};
  std::size_t used = static_cast<std::size_t>((bitCount_ >> 3) & 63);
  Absorb(kPadding, used < 56 ? 56 - used : 120 - used);
  Absorb(length, 8);

  static const wchar_t kHex[] = L"0123456789abcdef";
  std::wstring hex;
  hex.reserve(32);
  for (std::uint32_t word : state_) {
    for (int i = 0; i < 4; ++i) {
      auto byte = static_cast<std::uint8_t>(word >> (8 * i));
      hex += kHex[byte >> 4];
      hex += kHex[byte & 15];
    }
  }
  return hex;
}

std::optional<std::wstring> CMD5Checksum::GetMD5(platform::File& file, platform::Error* err) {
  CMD5Checksum md5;
  std::vector<std::uint8_t> buffer(kReadSize);
  for (;;) {
    std::size_t got = 0;
    if (!file.Read(buffer.data(), buffer.size(), &got, err)) return std::nullopt;
    if (got == 0) break;
    md5.Absorb(buffer.data(), got);
  }
  return md5.Finish();
}

std::wstring CMD5Checksum::GetMD5(const void* data, std::size_t size) {
  CMD5Checksum md5;
  md5.Absorb(static_cast<const std::uint8_t*>(data), size);
  return md5.Finish();
}
