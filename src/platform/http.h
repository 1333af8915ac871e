// One HTTP(S) GET through the platform's own client: WinINet on Windows, libcurl on Linux.
// Everything about retries, buffers and logging lives above this layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/http_rules.h"
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

// What one GET asks for, and the limits that end an attempt that is going nowhere.
struct HttpOptions {
  HttpTimeouts timeouts;
  // 0 or more: ask only for the bytes from this offset to the end ("Range: bytes=N-"),
  // on every hop of a redirect. Servers may ignore it: the response head says what came.
  std::int64_t rangeStart = -1;
  // Not empty: ask for these byte ranges instead, as a Range header names them after
  // "bytes=" ("0-99,200-299"), and rangeStart is not used. Servers answer several ranges
  // with a multipart/byteranges body (see HttpResponseHead::contentType), may join or drop
  // some, or send the whole file: the response head says what came.
  std::string ranges;
  // A server that keeps sending a byte now and then never reaches the idle time-out.
  // Once the final response's headers are in, the attempt fails when fewer than
  // minBytesPerSecond × rateWindowMs / 1000 body bytes arrived in the last rateWindowMs
  // (a body that ends sooner is never judged). 0 in either field: no floor.
  std::uint32_t minBytesPerSecond = 512;
  std::uint32_t rateWindowMs = 30000;
  // The whole attempt, from the first connection to the last body byte and across
  // redirects, must end within this. 0: no limit.
  std::uint32_t totalMs = 0;
  // For tests of https on Linux: a PEM file whose certificates libcurl trusts as well as
  // the system's. Empty (the launcher): the system's store alone. WinINet has no such
  // setting and ignores it; a Windows test puts its certificate in the user's root store.
  std::wstring caFile;

  base::http::PaceLimits Pace() const { return {minBytesPerSecond, rateWindowMs, totalMs}; }
};

// The final response's status line and the headers that say what its body is.
struct HttpResponseHead {
  unsigned status = 0;
  // The announced body length; -1 when there is none (chunked or close-delimited).
  std::int64_t contentLength = -1;
  // Content-Range "bytes START-END/TOTAL" (TOTAL may be "*", and a 416 answer gives
  // "bytes */TOTAL"). Each is -1 when absent, unknown or not a well-formed range.
  std::int64_t rangeStart = -1;
  std::int64_t rangeEnd = -1;
  std::int64_t rangeTotal = -1;
  // The Content-Type header's value as sent; empty when there is none.
  std::string contentType;

  // Fills the range fields from a Content-Range header's value.
  void SetContentRange(std::string_view value) {
    base::http::ContentRange range = base::http::ParseContentRange(value);
    rangeStart = range.start;
    rangeEnd = range.end;
    rangeTotal = range.total;
  }

  // True when this answers "Range: bytes=offset-" as asked: 206, a range that starts at
  // the offset and runs to the end of a file of known size, and a body of that length
  // when one is announced. Anything else (200 with the whole file, a range starting
  // elsewhere or ending early) means the bytes are not the continuation of the first
  // `offset` bytes.
  bool ResumesAt(std::int64_t offset) const {
    if (status != 206 || offset < 0 || rangeStart != offset || rangeEnd < rangeStart ||
        rangeTotal < 0 || rangeEnd != rangeTotal - 1)
      return false;
    return contentLength < 0 || contentLength == rangeEnd - rangeStart + 1;
  }
};

// Receives one response. Redirects have already been followed when Begin is called.
class HttpSink {
 public:
  virtual ~HttpSink() = default;
  // The final response's head, once all its headers are in. False: the body is not
  // wanted; HttpGet then stops the transfer and still reports success. By default it
  // hands status and length to the two-argument form below.
  virtual bool Begin(const HttpResponseHead& head) { return Begin(head.status, head.contentLength); }
  // The final status and the announced body length (-1 when the response has none, as
  // with a chunked or close-delimited body). For sinks that need no more of the head.
  virtual bool Begin(unsigned status, std::int64_t contentLength) {
    (void)status;
    (void)contentLength;
    return true;
  }
  // The next bytes of the body. False aborts the attempt; HttpGet then reports failure
  // with the message the sink left in *err.
  virtual bool Append(const void* data, std::size_t size, Error* err) = 0;
};

// One GET of `url` (http:// or https://, certificates checked against the system's
// store). The request is sent once; nothing is cached; the user agent is the executable's
// name without its extension.
//
// Redirects (301, 302, 303, 307, 308 with a Location) are followed, at most 10, to http
// and https addresses only, and never from https back to http: once a request has gone
// out over https, a redirect to http fails the attempt before anything is sent in clear.
// A 3xx that is not followed (no Location) reaches the sink as that status.
//
// True when the status line arrived and either the sink declined the body or the whole
// body was delivered: exactly as many bytes as announced, or for a chunked body up to its
// last chunk (where the client can tell: see HttpSeesCutChunkedBody). False on any
// failure, with the client's own code and message in *err, or the limit that was hit;
// the sink may have had Begin and some of the body by then (what a resume starts from).
bool HttpGet(const std::wstring& url, HttpSink& sink, Error* err, const HttpOptions& options);
// The same with the default options and these time-outs.
inline bool HttpGet(const std::wstring& url, HttpSink& sink, Error* err,
                    const HttpTimeouts& timeouts = HttpTimeouts()) {
  HttpOptions options;
  options.timeouts = timeouts;
  return HttpGet(url, sink, err, options);
}

// Whether a chunked body whose connection closes before the last chunk fails the
// attempt. libcurl: yes. WinINet: no, it ends such a body as if it were whole (measured
// under Wine), so on Windows only a caller's own check (a length, a checksum) catches it.
bool HttpSeesCutChunkedBody();

}  // namespace platform
