// One HTTP(S) GET through the platform's own client: WinINet on Windows, libcurl on Linux.
// Everything about retries, buffers and logging lives above this layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace platform {

// Once per process, before any thread calls HttpGet (libcurl's global set-up is not
// thread-safe). Harmless to call again; does nothing on Windows.
void InitHttp();

struct HttpTimeouts {
  std::uint32_t connectMs = 5000;
  // An attempt fails when no byte has arrived (or could be sent) for this long. It bounds
  // each wait, not the whole transfer, so a large body on a slow line still completes.
  std::uint32_t idleMs = 15000;
};

// Receives one response. Redirects have already been followed when Begin is called.
class HttpSink {
 public:
  virtual ~HttpSink() = default;
  // The final status and the announced body length (-1 when the response has none, as
  // with a chunked or close-delimited body). False: the body is not wanted; HttpGet
  // then stops the transfer and still reports success.
  virtual bool Begin(unsigned status, std::int64_t contentLength) = 0;
  // The next bytes of the body. False aborts the attempt; HttpGet then reports failure
  // with the message the sink left in *err.
  virtual bool Append(const void* data, std::size_t size, Error* err) = 0;
};

// A hint that `size` bytes at `data` are about to receive a large body. Filling fresh
// memory costs one page fault per page; where the system offers large pages for such a
// block (Linux) this asks for them. Changes nothing about the block's content or life.
void PrepareLargeBlock(void* data, std::size_t size);

// One GET of `url` (http:// or https://, certificates checked against the system's
// store). The request is sent once; nothing is cached; the user agent is the executable's
// name without its extension. True when the status line arrived and either the sink
// declined the body or the whole body was delivered, exactly as many bytes as announced.
// False on any failure, with the client's own code and message in *err.
bool HttpGet(const std::wstring& url, HttpSink& sink, Error* err,
             const HttpTimeouts& timeouts = HttpTimeouts());

}  // namespace platform
