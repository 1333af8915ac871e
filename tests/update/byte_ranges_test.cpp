// The ranges a differential update asks for, and the multipart/byteranges answers it reads:
// bodies as common servers write them, fed whole and a byte at a time, and bodies that
// are no such answer.
#include "update/byte_ranges.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using byte_ranges::Range;
using Ranges = std::vector<Range>;

TEST(ByteRanges, JoiningRanges) {
  struct Case {
    const char* name;
    Ranges in;
    std::uint64_t gap;
    Ranges out;
  } cases[] = {
      {"none", {}, 128, {}},
      {"adjacent", {{0, 10}, {10, 20}}, 0, {{0, 20}}},
      {"a gap kept", {{0, 10}, {11, 20}}, 0, {{0, 10}, {11, 20}}},
      {"a small gap closed", {{0, 10}, {100, 120}, {400, 500}}, 128, {{0, 120}, {400, 500}}},
      {"a gap as long as the limit closed", {{0, 10}, {138, 140}}, 128, {{0, 140}}},
      {"empty ranges dropped", {{5, 5}, {7, 9}}, 0, {{7, 9}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(byte_ranges::Coalesce(c.in, c.gap), c.out);
  }

  struct CountCase {
    const char* name;
    Ranges in;
    std::size_t count;
    Ranges out;
  } counted[] = {
      {"few enough", {{0, 1}, {5, 6}}, 2, {{0, 1}, {5, 6}}},
      {"the smallest gaps closed first", {{0, 1}, {3, 4}, {100, 101}, {104, 105}, {1000, 1001}}, 2,
       {{0, 105}, {1000, 1001}}},
      {"equal gaps: only as many as needed", {{0, 1}, {2, 3}, {4, 5}, {6, 7}}, 3, {{0, 3}, {4, 5}, {6, 7}}},
      {"down to one", {{0, 1}, {50, 60}, {900, 901}}, 1, {{0, 901}}},
  };
  for (const CountCase& c : counted) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(byte_ranges::CoalesceTo(c.in, c.count), c.out);
  }

  const Ranges three = {{0, 100}, {200, 201}, {5000, 6000}};
  EXPECT_EQ(byte_ranges::RangeSetText(three.data(), 3), "0-99,200-200,5000-5999");
  EXPECT_EQ(byte_ranges::RangeSetText(three.data() + 2, 1), "5000-5999");
}

TEST(ByteRanges, MultipartBoundaryFromTheContentType) {
  struct Case {
    const char* contentType;
    const char* boundary;  // null: none
  } cases[] = {
      {"multipart/byteranges; boundary=3d6b6a416f9b5", "3d6b6a416f9b5"},
      {"Multipart/ByteRanges;BOUNDARY=\"a b\"", "a b"},
      {"multipart/byteranges; charset=x; boundary=00000000000000000001", "00000000000000000001"},
      {"multipart/byteranges", nullptr},
      {"multipart/byteranges; boundary=", nullptr},
      {"application/octet-stream", nullptr},
      {"multipart/mixed; boundary=x", nullptr},
      {"", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.contentType);
    std::optional<std::string> boundary = byte_ranges::MultipartBoundary(c.contentType);
    ASSERT_EQ(boundary.has_value(), c.boundary != nullptr);
    if (c.boundary) {
      EXPECT_EQ(*boundary, c.boundary);
    }
  }
}

// What a reader hands on: each part's range and then its bytes.
class Collect : public byte_ranges::MultipartReader::Handler {
 public:
  bool OnRange(std::uint64_t start, std::uint64_t end, std::int64_t total) override {
    log.append("[").append(std::to_string(start)).append(",").append(std::to_string(end));
    log.append(")/").append(std::to_string(total)).append(":");
    return true;
  }
  bool OnData(const std::uint8_t* data, std::size_t size) override {
    log.append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  std::string log;
};

struct Read {
  bool ok;
  bool finished;
  std::string log;
};

Read ReadWhole(const std::string& body, std::size_t step) {
  Collect collect;
  byte_ranges::MultipartReader reader("XYZ", collect);
  bool ok = true;
  for (std::size_t at = 0; at < body.size() && ok; at += step)
    ok = reader.Feed(reinterpret_cast<const std::uint8_t*>(body.data()) + at, std::min(step, body.size() - at));
  return {ok, reader.Finished(), collect.log};
}

TEST(ByteRanges, MultipartAnswersAsServersWriteThem) {
  const std::string expected = "[0,4)/50:abcd[10,13)/50:\r\n-";
  struct Case {
    const char* name;
    std::string body;
  } cases[] = {
      {"a line end before the first delimiter",
       "\r\n--XYZ\r\nContent-Type: application/octet-stream\r\nContent-Range: bytes 0-3/50\r\n\r\nabcd"
       "\r\n--XYZ\r\nContent-Type: application/octet-stream\r\nContent-Range: bytes 10-12/50\r\n\r\n\r\n-"
       "\r\n--XYZ--\r\n"},
      {"none, and header names in other cases",
       "--XYZ\r\ncontent-range: bytes 0-3/50\r\n\r\nabcd\r\n--XYZ\r\nCONTENT-RANGE:bytes 10-12/50\r\n\r\n\r\n-"
       "\r\n--XYZ--"},
      {"a preamble, padding after the delimiters and an epilogue",
       "ignore me\r\n--XYZ  \r\nContent-Range: bytes 0-3/50\r\n\r\nabcd\r\n--XYZ\t\r\nContent-Range: bytes 10-12/50\r\n"
       "\r\n\r\n-\r\n--XYZ--  \r\nthe end\r\n"},
      {"bare line feeds", "--XYZ\nContent-Range: bytes 0-3/50\n\nabcd\n--XYZ\nContent-Range: bytes 10-12/50\n\n\r\n-\n--XYZ--\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (std::size_t step : {c.body.size(), std::size_t{1}, std::size_t{7}}) {
      SCOPED_TRACE(step);
      Read read = ReadWhole(c.body, step);
      EXPECT_TRUE(read.ok);
      EXPECT_TRUE(read.finished);
      EXPECT_EQ(read.log, expected);
    }
  }
  // The total may be unknown.
  Read unknown = ReadWhole("--XYZ\r\nContent-Range: bytes 5-5/*\r\n\r\nx\r\n--XYZ--\r\n", 3);
  EXPECT_TRUE(unknown.ok && unknown.finished);
  EXPECT_EQ(unknown.log, "[5,6)/-1:x");
}

TEST(ByteRanges, WhatIsNoMultipartAnswer) {
  struct Case {
    const char* name;
    std::string body;
    bool ok;        // Feed's result
    bool finished;  // the closing delimiter was read
  } cases[] = {
      {"a part without a Content-Range", "--XYZ\r\nContent-Type: text/plain\r\n\r\nabcd\r\n--XYZ--\r\n", false, false},
      {"a malformed Content-Range", "--XYZ\r\nContent-Range: bytes 9-3/50\r\n\r\nabcd\r\n--XYZ--\r\n", false, false},
      {"a part longer than its range", "--XYZ\r\nContent-Range: bytes 0-1/50\r\n\r\nabcd\r\n--XYZ--\r\n", false, false},
      {"another boundary", "--ABC\r\nContent-Range: bytes 0-3/50\r\n\r\nabcd\r\n--ABC--\r\n", true, false},
      {"cut in a part", "--XYZ\r\nContent-Range: bytes 0-3/50\r\n\r\nab", true, false},
      {"cut before the closing delimiter", "--XYZ\r\nContent-Range: bytes 0-3/50\r\n\r\nabcd\r\n", true, false},
      {"a head without end", "--XYZ\r\nContent-Range: bytes 0-3/50\r\n" + std::string(9000, 'h'), false, false},
      {"a preamble without end", std::string(9000, 'p'), false, false},
      {"text after a part", "--XYZ\r\nContent-Range: bytes 0-3/50\r\n\r\nabcd\r\nmore\r\n--XYZ--\r\n", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (std::size_t step : {c.body.size(), std::size_t{1}}) {
      Read read = ReadWhole(c.body, step);
      EXPECT_EQ(read.ok, c.ok);
      EXPECT_EQ(read.finished, c.finished);
    }
  }
}

}  // namespace
