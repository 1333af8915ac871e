// HTTP fetch into memory: one body in one owned block, always followed by a zero byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/http.h"

class FetchBuffer {
 public:
  // The largest body a fetch accepts by default. The files fetched this way (libs.txt,
  // update.txt) are a few bytes; a page, or an endless stream, sent in their place must not
  // fill the memory. Large files go to the disk instead (update/download.h).
  static constexpr std::size_t kMaxLength = 1024 * 1024;
  // The whole of one attempt, from connecting to the last byte: a server that trickles,
  // or never ends, cannot keep a launcher (shown or headless) from starting.
  static constexpr std::uint32_t kDeadlineMs = 30000;

  FetchBuffer() { options.totalMs = kDeadlineMs; }
  FetchBuffer(const FetchBuffer&) = delete;
  FetchBuffer& operator=(const FetchBuffer&) = delete;

  // One GET. True when the whole body of a 200 answer is in `data`; false on any failure
  // (logged), leaving the buffer as it was. Any other status (a 3xx that could not be
  // followed, a 204, a 206 that nobody asked for, an error), a body shorter than announced
  // and a body larger than maxLength, announced or not, are failures. A body without a
  // Content-Length is read to its end, and no further than maxLength.
  bool FetchOnce(const std::wstring& url);
  // Up to three attempts of FetchOnce; true at the first success.
  bool Fetch(const std::wstring& url);
  // The body up to its first zero byte, each byte widened to the character of the same
  // value (no code page).
  std::wstring AsText() const;

  // The status line of the last attempt's answer; 0 when none arrived (the transfer
  // failed before it). Tells a file the server does not have (404) from a broken line.
  unsigned status = 0;

  // Null until a fetch succeeded; then `length` bytes and a zero byte.
  std::unique_ptr<std::uint8_t[]> data;
  std::size_t length = 0;

  // The limits of every later attempt: the body's size, and the time-outs, the rate floor
  // and the deadline of the request (kDeadlineMs unless changed).
  std::size_t maxLength = kMaxLength;
  platform::HttpOptions options;
};
