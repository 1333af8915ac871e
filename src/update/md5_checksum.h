// RFC 1321 MD5 of a file, streamed through a fixed buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/platform.h"

class CMD5Checksum {
 public:
  CMD5Checksum();

  // Hex digest (32 lowercase digits) of the bytes from the file's position to its end;
  // nothing when a read fails.
  static std::optional<std::wstring> GetMD5(platform::File& file, platform::Error* err = nullptr);
  // Digest of bytes in memory.
  static std::wstring GetMD5(const void* data, std::size_t size);

  void Absorb(const std::uint8_t* input, std::size_t length);
  std::wstring Finish();

 private:
  void ProcessBlock(const std::uint8_t* block);

  std::uint8_t block_[64];
  std::uint64_t bitCount_ = 0;
  std::uint32_t state_[4];
};
