// Byte ranges of a file fetched with one Range request: the ranges a request names, and
// the multipart/byteranges body a server answers several ranges with, read as it arrives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace byte_ranges {

// The bytes [start, end) of a file.
struct Range {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  std::uint64_t Length() const { return end - start; }
  bool operator==(const Range&) const = default;
};

// Sorted, non-overlapping ranges with every gap of at most `gap` bytes closed: fetching a
// few bytes more costs less than the head of one more part of the answer.
std::vector<Range> Coalesce(const std::vector<Range>& sorted, std::uint64_t gap);

// The same ranges, the closest neighbours joined until at most `count` remain: for a
// server that answers one range a request, a bound on the requests.
std::vector<Range> CoalesceTo(const std::vector<Range>& sorted, std::size_t count);

// The ranges as a Range header names them after "bytes=": "0-99,200-299" (the ends
// inclusive), for HttpOptions::ranges.
std::string RangeSetText(const Range* first, std::size_t count);

// The boundary named in a Content-Type of "multipart/byteranges; boundary=..." (quoted or
// not, in any case); nothing for any other type.
std::optional<std::string> MultipartBoundary(const std::string& contentType);

// Reads a multipart/byteranges body as it arrives, in pieces of any size: each part's
// Content-Range, then its bytes, handed on as they come. Only the head of a part and the
// lines between parts pass through a small buffer of its own, so the body's size does not
// matter.
class MultipartReader {
 public:
  class Handler {
   public:
    virtual ~Handler() = default;
    // A part of the bytes [start, end) of a file of `total` bytes (-1: unknown) begins.
    // False stops the reading.
    virtual bool OnRange(std::uint64_t start, std::uint64_t end, std::int64_t total) = 0;
    // The part's next bytes. False stops the reading.
    virtual bool OnData(const std::uint8_t* data, std::size_t size) = 0;
  };

  MultipartReader(std::string boundary, Handler& handler);

  // False when the body is no multipart/byteranges body for that boundary (a part without
  // a Content-Range, a delimiter missing, a head too long) or the handler stopped it; the
  // reason is in Error().
  bool Feed(const std::uint8_t* data, std::size_t size);
  // Whether the closing delimiter has been read: a body that ends before it is cut short.
  bool Finished() const { return state_ == State::kDone; }
  const std::wstring& Error() const { return error_; }

 private:
  enum class State { kPreamble, kHead, kData, kAfterData, kDelimiter, kDone, kFailed };

  bool Line(const std::string& line);
  bool Fail(const std::wstring& why);

  std::string delimiter_;  // "--" and the boundary
  Handler& handler_;
  State state_ = State::kPreamble;
  std::string line_;
  std::size_t headBytes_ = 0;  // lines read since the last part's data (or the start)
  std::int64_t rangeStart_ = -1, rangeEnd_ = -1, rangeTotal_ = -1;
  std::uint64_t left_ = 0;  // of the current part's bytes
  std::wstring error_;
};

}  // namespace byte_ranges
