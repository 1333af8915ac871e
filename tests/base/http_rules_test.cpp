// The HTTP rules both clients share: Content-Range and the pace of a transfer.
#include "base/http_rules.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace base::http;

TEST(ContentRange, ParsedOnlyWhenWellFormed) {
  struct Case {
    const char* value;
    std::int64_t start, end, total;
  };
  const Case cases[] = {
      {"bytes 10-99/100", 10, 99, 100},
      {"bytes 0-0/1", 0, 0, 1},
      {"  BYTES 10-99/100 ", 10, 99, 100},
      {"bytes 10-99/*", 10, 99, -1},
      {"bytes */100", -1, -1, 100},
      {"bytes 123456789012345678-123456789012345679/123456789012345680", 123456789012345678,
       123456789012345679, 123456789012345680},
      // Malformed: nothing of it is taken.
      {"", -1, -1, -1},
      {"bytes", -1, -1, -1},
      {"bytes 10-99", -1, -1, -1},
      {"bytes 99-10/100", -1, -1, -1},
      {"bytes 10-100/100", -1, -1, -1},
      {"bytes */*", -1, -1, -1},
      {"items 10-99/100", -1, -1, -1},
      {"bytes10-99/100", -1, -1, -1},
      {"bytes 10-99/100x", -1, -1, -1},
      {"bytes -10-99/100", -1, -1, -1},
      {"bytes 1234567890123456789-1234567890123456790/1234567890123456791", -1, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    ContentRange range = ParseContentRange(c.value);
    EXPECT_EQ(range.start, c.start);
    EXPECT_EQ(range.end, c.end);
    EXPECT_EQ(range.total, c.total);
  }
}

TEST(TransferPace, JudgesTheLastWindowOnceTheHeadersAreIn) {
  using std::chrono::milliseconds;
  PaceLimits options;
  options.minBytesPerSecond = 1000;
  options.rateWindowMs = 2000;
  const Clock::time_point t0{};
  TransferPace pace(options, t0);
  // Waiting for the headers is the idle time-out's business.
  EXPECT_EQ(pace.Check(t0 + milliseconds(10000), 0), TransferPace::kNone);
  pace.StartWindow(t0 + milliseconds(10000), 0);
  const Clock::time_point t1 = t0 + milliseconds(10000);
  // Nothing is judged before a whole window has passed.
  EXPECT_EQ(pace.Check(t1 + milliseconds(1900), 10), TransferPace::kNone);
  // 2000 bytes in the first two seconds: just enough.
  EXPECT_EQ(pace.Check(t1 + milliseconds(2000), 2000), TransferPace::kNone);
  // Then a burst, then a trickle: the burst ages out of the window.
  EXPECT_EQ(pace.Check(t1 + milliseconds(2500), 100000), TransferPace::kNone);
  EXPECT_EQ(pace.Check(t1 + milliseconds(4000), 100100), TransferPace::kNone);
  EXPECT_EQ(pace.Check(t1 + milliseconds(5000), 100200), TransferPace::kTooSlow);
  EXPECT_EQ(pace.Describe(TransferPace::kTooSlow), L"too slow: 200 bytes in the last 2000 ms, less than 1000 bytes/s");

  // The deadline counts from the start, headers included; 0 means none.
  options.totalMs = 3000;
  TransferPace timed(options, t0);
  EXPECT_EQ(timed.Check(t0 + milliseconds(2999), 0), TransferPace::kNone);
  EXPECT_EQ(timed.WaitLimit(t0 + milliseconds(1000), 15000), 2000u);
  EXPECT_EQ(timed.WaitLimit(t0 + milliseconds(1000), 500), 500u);
  EXPECT_EQ(timed.WaitLimit(t0 + milliseconds(5000), 15000), 1u);
  EXPECT_EQ(timed.Check(t0 + milliseconds(3000), 0), TransferPace::kTooLong);
  EXPECT_EQ(timed.Describe(TransferPace::kTooLong), L"not finished within 3000 ms");
  EXPECT_EQ(pace.WaitLimit(t0 + milliseconds(99999), 15000), 15000u);

  // No floor at all.
  options.minBytesPerSecond = 0;
  TransferPace unlimited(options, t0);
  unlimited.StartWindow(t0, 0);
  EXPECT_EQ(unlimited.Check(t0 + milliseconds(2999), 0), TransferPace::kNone);
}
