#include "update/byte_ranges.h"

#include <algorithm>
#include <cstring>

#include "base/http_rules.h"

namespace byte_ranges {

namespace {

// Generous for the head of a part (a Content-Type and a Content-Range) and for the lines
// around the delimiters; a server that sends more sends no multipart/byteranges body.
constexpr std::size_t kMaxHeadBytes = 8 * 1024;

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string TrimSpaces(const std::string& text) {
  std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return {};
  std::size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

}  // namespace

std::vector<Range> Coalesce(const std::vector<Range>& sorted, std::uint64_t gap) {
  std::vector<Range> out;
  for (const Range& range : sorted) {
    if (range.end <= range.start) continue;
    if (!out.empty() && range.start <= out.back().end + gap) out.back().end = std::max(out.back().end, range.end);
    else out.push_back(range);
  }
  return out;
}

std::vector<Range> CoalesceTo(const std::vector<Range>& sorted, std::size_t count) {
  std::vector<Range> out = Coalesce(sorted, 0);
  if (count == 0 || out.size() <= count) return out;
  // The largest gap that must stay closed: the joins that leave `count` ranges close the
  // smallest out.size() - count gaps.
  std::vector<std::uint64_t> gaps;
  for (std::size_t i = 1; i < out.size(); ++i) gaps.push_back(out[i].start - out[i - 1].end);
  const std::size_t joins = out.size() - count;
  std::nth_element(gaps.begin(), gaps.begin() + (joins - 1), gaps.end());
  const std::uint64_t limit = gaps[joins - 1];
  // Gaps equal to the limit may be more than needed: join those only while over count.
  std::size_t equalToJoin = joins;
  for (std::uint64_t g : gaps)
    if (g < limit) --equalToJoin;
  std::vector<Range> joined;
  for (const Range& range : out) {
    if (!joined.empty()) {
      const std::uint64_t g = range.start - joined.back().end;
      if (g < limit || (g == limit && equalToJoin > 0)) {
        if (g == limit) --equalToJoin;
        joined.back().end = range.end;
        continue;
      }
    }
    joined.push_back(range);
  }
  return joined;
}

std::string RangeSetText(const Range* first, std::size_t count) {
  std::string value;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) value += ',';
    value += std::to_string(first[i].start) + "-" + std::to_string(first[i].end - 1);
  }
  return value;
}

std::optional<std::string> MultipartBoundary(const std::string& contentType) {
  std::size_t semicolon = contentType.find(';');
  if (Lower(TrimSpaces(contentType.substr(0, semicolon))) != "multipart/byteranges") return std::nullopt;
  while (semicolon != std::string::npos) {
    std::size_t next = contentType.find(';', semicolon + 1);
    std::string parameter = TrimSpaces(contentType.substr(semicolon + 1, next == std::string::npos ? std::string::npos
                                                                                                     : next - semicolon - 1));
    semicolon = next;
    std::size_t equals = parameter.find('=');
    if (equals == std::string::npos || Lower(TrimSpaces(parameter.substr(0, equals))) != "boundary") continue;
    std::string value = TrimSpaces(parameter.substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    // RFC 2046: 1 to 70 characters.
    if (value.empty() || value.size() > 70) return std::nullopt;
    return value;
  }
  return std::nullopt;
}

MultipartReader::MultipartReader(std::string boundary, Handler& handler)
    : delimiter_("--" + std::move(boundary)), handler_(handler) {}

bool MultipartReader::Fail(const std::wstring& why) {
  if (state_ != State::kFailed) error_ = why;
  state_ = State::kFailed;
  return false;
}

bool MultipartReader::Feed(const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    switch (state_) {
      case State::kFailed:
        return false;
      case State::kDone:
        return true;  // the epilogue: nothing of ours
      case State::kData: {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left_, size));
        if (!handler_.OnData(data, n)) return Fail(L"stopped");
        data += n;
        size -= n;
        left_ -= n;
        if (left_ == 0) state_ = State::kAfterData;
        break;
      }
      default: {
        const auto* newline = static_cast<const std::uint8_t*>(std::memchr(data, '\n', size));
        const std::size_t n = newline ? static_cast<std::size_t>(newline - data) + 1 : size;
        headBytes_ += n;
        if (headBytes_ > kMaxHeadBytes) return Fail(L"multipart head too long");
        line_.append(reinterpret_cast<const char*>(data), newline ? n - 1 : n);
        data += n;
        size -= n;
        if (newline) {
          if (!line_.empty() && line_.back() == '\r') line_.pop_back();
          std::string line;
          line.swap(line_);
          if (!Line(line)) return false;
        } else if ((state_ == State::kDelimiter || state_ == State::kPreamble) && line_ == delimiter_ + "--") {
          // The closing delimiter needs no line end after it: the body may end there.
          state_ = State::kDone;
        }
      }
    }
  }
  return state_ != State::kFailed;
}

bool MultipartReader::Line(const std::string& line) {
  // A delimiter line may carry white space after the boundary (RFC 2046's padding).
  const std::string trimmed = TrimSpaces(line);
  const bool delimiter = trimmed == delimiter_;
  const bool closing = trimmed == delimiter_ + "--";
  switch (state_) {
    case State::kPreamble:
    case State::kDelimiter:
      if (delimiter) {
        state_ = State::kHead;
        rangeStart_ = rangeEnd_ = rangeTotal_ = -1;
      } else if (closing) {
        state_ = State::kDone;
      } else if (state_ == State::kDelimiter && !trimmed.empty()) {
        return Fail(L"no delimiter after a part");
      }
      return true;
    case State::kAfterData:
      // The line end that ends a part's bytes, before its delimiter.
      if (!line.empty()) return Fail(L"a part longer than its Content-Range");
      state_ = State::kDelimiter;
      return true;
    case State::kHead: {
      if (line.empty()) {
        if (rangeStart_ < 0) return Fail(L"a part without a Content-Range");
        if (!handler_.OnRange(static_cast<std::uint64_t>(rangeStart_), static_cast<std::uint64_t>(rangeEnd_) + 1,
                             rangeTotal_))
          return Fail(L"stopped");
        left_ = static_cast<std::uint64_t>(rangeEnd_ - rangeStart_) + 1;
        headBytes_ = 0;
        state_ = State::kData;
        return true;
      }
      const std::size_t colon = line.find(':');
      if (colon != std::string::npos && Lower(TrimSpaces(line.substr(0, colon))) == "content-range") {
        base::http::ContentRange range = base::http::ParseContentRange(line.substr(colon + 1));
        if (range.start < 0 || range.end < range.start) return Fail(L"a part with a malformed Content-Range");
        rangeStart_ = range.start;
        rangeEnd_ = range.end;
        rangeTotal_ = range.total;
      }
      return true;
    }
    default:
      return true;
  }
}

}  // namespace byte_ranges
