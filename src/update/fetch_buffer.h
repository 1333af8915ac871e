// HTTP fetch into memory: one body in one owned block, always followed by a zero byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/http.h"

class FetchBuffer {
 public:
  // The largest body a fetch accepts. Bodies are held wholly in memory, and the log's
  // "len = %d" must show the true length.
  static constexpr std::size_t kMaxLength = 0x7FFFFFFF;

  FetchBuffer() = default;
  FetchBuffer(const FetchBuffer&) = delete;
  FetchBuffer& operator=(const FetchBuffer&) = delete;

  // One GET. True when the whole body is in `data`; false on any failure (logged),
  // leaving the buffer as it was. A status of 400 or more, a body shorter than announced
  // and a body larger than kMaxLength are failures. A body without a Content-Length is
  // read to its end.
  bool FetchOnce(const std::wstring& url);
  // Up to three attempts of FetchOnce; true at the first success.
  bool Fetch(const std::wstring& url);
  // The body up to its first zero byte, each byte widened to the character of the same
  // value (no code page).
  std::wstring AsText() const;

  // Null until a fetch succeeded; then `length` bytes and a zero byte.
  std::unique_ptr<std::uint8_t[]> data;
  std::size_t length = 0;

  // For tests: the time-outs of every later attempt (the launcher keeps the defaults).
  platform::HttpTimeouts timeouts;
};
