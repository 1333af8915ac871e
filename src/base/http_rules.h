// The rules of HTTP that both clients (WinINet and libcurl) apply the same way: which
// redirects are followed, reading a Content-Range header, and judging whether a transfer
// still gets anywhere. Pure code: the clients call the system, this only decides.
#pragma once

#include <chrono>
#include <cstdint>
#include <cwchar>
#include <deque>
#include <string>
#include <optional>
#include <string_view>

#include "base/decimal.h"

namespace base::http {


using Clock = std::chrono::steady_clock;

constexpr int kMaxRedirects = 10;

// 301, 302, 303, 307 and 308 send the client elsewhere; other 3xx (300 Multiple Choices,
// 304 Not Modified...) are answers in their own right.
inline bool IsFollowedRedirect(unsigned status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// A Content-Length value: digits alone (at most 18), with nothing around them but spaces
// and tabs. False for anything else ("12 34", "12abc", "-1", "", a list): such a body's
// length is unknown, and reading it as its first number would take a cut body for whole.
inline bool ParseContentLength(std::string_view value, std::int64_t* length) {
  std::size_t begin = value.find_first_not_of(" \t");
  std::size_t end = value.find_last_not_of(" \t");
  if (begin == std::string_view::npos || end - begin + 1 > 18) return false;
  std::optional<std::uint64_t> n = base::ParseUnsigned(value.substr(begin, end - begin + 1));
  if (!n) return false;
  *length = static_cast<std::int64_t>(*n);
  return true;
}

// A Content-Range value: "bytes START-END/TOTAL" (TOTAL may be "*", and a 416 answer gives
// "bytes */TOTAL"). Each field is -1 when absent, unknown or not a well-formed range.
struct ContentRange {
  std::int64_t start = -1;
  std::int64_t end = -1;
  std::int64_t total = -1;
};

// The range of a Content-Range value ("bytes 10-99/100", "bytes 10-99/*", "bytes */100");
// all three fields stay -1 when the value is malformed.
inline ContentRange ParseContentRange(std::string_view value) {
  ContentRange none;
  std::size_t at = 0;
  auto skipSpaces = [&] {
    while (at < value.size() && (value[at] == ' ' || value[at] == '\t')) ++at;
  };
  // A decimal number of at most 18 digits (it fits a file length), or -1.
  auto number = [&]() -> std::int64_t {
    std::size_t from = at;
    while (at < value.size() && value[at] >= '0' && value[at] <= '9') ++at;
    if (at - from > 18) return -1;
    std::optional<std::uint64_t> n = base::ParseUnsigned(value.substr(from, at - from));
    return n ? static_cast<std::int64_t>(*n) : -1;
  };

  skipSpaces();
  static constexpr std::string_view kUnit = "bytes";
  if (value.size() - at < kUnit.size()) return none;
  for (char c : kUnit) {
    char v = value[at++];
    if (v != c && v != c - 'a' + 'A') return none;
  }
  if (at >= value.size() || (value[at] != ' ' && value[at] != '\t')) return none;
  skipSpaces();
  std::int64_t start = -1, end = -1, total = -1;
  if (at < value.size() && value[at] == '*') {
    ++at;
  } else {
    if ((start = number()) < 0 || at >= value.size() || value[at++] != '-') return none;
    if ((end = number()) < 0 || end < start) return none;
  }
  if (at >= value.size() || value[at++] != '/') return none;
  if (at < value.size() && value[at] == '*') {
    ++at;
    if (start < 0) return none;  // "*/*" says nothing
  } else if ((total = number()) < 0 || (end >= 0 && end >= total)) {
    return none;
  }
  skipSpaces();
  if (at != value.size()) return none;
  return ContentRange{start, end, total};
}

// The limits that end a transfer going nowhere: fewer than minBytesPerSecond × rateWindowMs
// / 1000 body bytes in the last rateWindowMs (0 in either: no floor), or the whole attempt
// lasting longer than totalMs (0: no limit).
struct PaceLimits {
  std::uint32_t minBytesPerSecond = 0;
  std::uint32_t rateWindowMs = 0;
  std::uint32_t totalMs = 0;
};

// Watches one attempt against its rate floor and its deadline. The HTTP clients call Check
// whenever bytes arrive and whenever they get control while waiting.
class TransferPace {
 public:
  enum Limit { kNone, kTooSlow, kTooLong };

  TransferPace(const PaceLimits& limits, Clock::time_point start)
      : minBytesPerSecond_(limits.minBytesPerSecond),
        windowMs_(limits.rateWindowMs),
        totalMs_(limits.totalMs),
        deadline_(start + std::chrono::milliseconds(limits.totalMs)) {}

  // The final response's headers are in: the rate is judged from here on, on the body's
  // bytes alone (a slow answer to the request is the idle time-out's business).
  void StartWindow(Clock::time_point now, std::int64_t received) {
    samples_.clear();
    samples_.push_back({now, received});
    windowOpen_ = true;
  }

  Limit Check(Clock::time_point now, std::int64_t received) {
    if (totalMs_ != 0 && now >= deadline_) return kTooLong;
    if (!windowOpen_ || minBytesPerSecond_ == 0 || windowMs_ == 0) return kNone;
    const auto window = std::chrono::milliseconds(windowMs_);
    // A sample every sixteenth of the window is fine enough and keeps the list short.
    if (now - samples_.back().at >= window / 16) samples_.push_back({now, received});
    const Clock::time_point cutoff = now - window;
    while (samples_.size() >= 2 && samples_[1].at <= cutoff) samples_.pop_front();
    if (samples_.front().at > cutoff) return kNone;  // not a whole window yet
    lastWindowBytes_ = received - samples_.front().received;
    if (lastWindowBytes_ * 1000 < static_cast<std::int64_t>(minBytesPerSecond_) * windowMs_) return kTooSlow;
    return kNone;
  }

  // The longest a single wait may last: `cap`, or less when the deadline is nearer (never
  // 0, which some clients read as "no time-out").
  std::uint32_t WaitLimit(Clock::time_point now, std::uint32_t cap) const {
    if (totalMs_ == 0) return cap;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - now).count();
    if (left < 1) return 1;
    return left < cap ? static_cast<std::uint32_t>(left) : cap;
  }

  std::wstring Describe(Limit limit) const {
    wchar_t text[160];
    if (limit == kTooLong) {
      std::swprintf(text, 160, L"not finished within %u ms", static_cast<unsigned>(totalMs_));
    } else {
      std::swprintf(text, 160, L"too slow: %lld bytes in the last %u ms, less than %u bytes/s",
                    static_cast<long long>(lastWindowBytes_), static_cast<unsigned>(windowMs_),
                    static_cast<unsigned>(minBytesPerSecond_));
    }
    return text;
  }

 private:
  struct Sample {
    Clock::time_point at;
    std::int64_t received;
  };
  std::uint32_t minBytesPerSecond_;
  std::uint32_t windowMs_;
  std::uint32_t totalMs_;
  Clock::time_point deadline_;
  bool windowOpen_ = false;
  std::deque<Sample> samples_;
  std::int64_t lastWindowBytes_ = 0;
};

}  // namespace base::http
