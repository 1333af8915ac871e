#include "update/fetch_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/retry.h"
#include "diagnostics/log.h"

namespace {

constexpr std::size_t kFirstBlock = 64 * 1024;

// Collects one response. The caller's buffer is touched only once the whole body is here,
// so a failed attempt leaves the previous body in place.
class BodyCollector : public platform::HttpSink {
 public:
  explicit BodyCollector(std::size_t maxLength) : maxLength_(maxLength) {}

  bool Begin(unsigned status, std::int64_t contentLength) override {
    status_ = status;
    if (status != 200) return false;
    if (contentLength >= 0) {
      if (static_cast<std::uint64_t>(contentLength) > maxLength_) {
        tooLarge_ = contentLength;
        return false;
      }
      known_ = true;
      // One block for the announced length; its last byte stays zero.
      if (!Reserve(static_cast<std::size_t>(contentLength))) return false;
    } else if (!Reserve(std::min(kFirstBlock, maxLength_))) {
      return false;
    }
    return true;
  }

  bool Append(const void* bytes, std::size_t size, platform::Error* err) override {
    if (size > capacity_ - used_) {
      // Only a body of unknown length grows; the client never delivers more than announced.
      if (known_ || size > maxLength_ - used_) {
        platform::SetFailure(err, L"response body larger than " + std::to_wstring(known_ ? capacity_ : maxLength_) + L" bytes");
        return false;
      }
      std::size_t wanted = used_ + size;
      std::size_t grown = capacity_ > maxLength_ / 2 ? maxLength_ : std::max(capacity_ * 2, wanted);
      if (!Grow(grown)) {
        platform::SetFailure(err, L"out of memory for a response body of " + std::to_wstring(wanted) + L" bytes");
        return false;
      }
    }
    std::memcpy(block_.get() + used_, bytes, size);
    used_ += size;
    return true;
  }

  unsigned Status() const { return status_; }
  std::int64_t TooLarge() const { return tooLarge_; }
  bool OutOfMemory() const { return outOfMemory_; }
  std::unique_ptr<std::uint8_t[]> TakeBlock() {
    if (!block_ && !Reserve(0)) return nullptr;
    block_[used_] = 0;
    return std::move(block_);
  }
  std::size_t Used() const { return used_; }

 private:
  bool Reserve(std::size_t capacity) {
    block_.reset(new (std::nothrow) std::uint8_t[capacity + 1]);
    if (!block_) {
      outOfMemory_ = true;
      return false;
    }
    capacity_ = capacity;
    block_[0] = 0;
    return true;
  }

  bool Grow(std::size_t capacity) {
    std::unique_ptr<std::uint8_t[]> bigger(new (std::nothrow) std::uint8_t[capacity + 1]);
    if (!bigger) return false;
    std::memcpy(bigger.get(), block_.get(), used_);
    block_ = std::move(bigger);
    capacity_ = capacity;
    return true;
  }

  std::size_t maxLength_;
  unsigned status_ = 0;
  bool known_ = false;
  bool outOfMemory_ = false;
  std::int64_t tooLarge_ = -1;
  std::unique_ptr<std::uint8_t[]> block_;
  std::size_t capacity_ = 0;
  std::size_t used_ = 0;
};

}  // namespace

bool FetchBuffer::FetchOnce(const std::wstring& url) {
  theLog.Write(L"start get url: %s", url);
  BodyCollector body(maxLength);
  platform::Error err;
  bool answered = platform::HttpGet(url, body, &err, options);
  status = body.Status();
  if (!answered) {
    LogException(err);
    return false;
  }
  if (body.Status() != 200) {
    theLog.Write(L"invalid http statue: %d from:%s", body.Status(), url);
    return false;
  }
  if (body.TooLarge() >= 0) {
    LogException({0, L"Content-Length " + std::to_wstring(body.TooLarge()) + L" is more than " +
                         std::to_wstring(maxLength) + L" bytes"});
    return false;
  }
  if (body.OutOfMemory()) {
    LogException({0, L"out of memory for the response body"});
    return false;
  }
  std::unique_ptr<std::uint8_t[]> block = body.TakeBlock();
  if (!block) {
    LogException({0, L"out of memory for the response body"});
    return false;
  }
  data = std::move(block);
  length = body.Used();
  theLog.Write(L"http complete, len = %d", length);
  return true;
}

bool FetchBuffer::Fetch(const std::wstring& url) {
  return base::Retry([&] { return FetchOnce(url); });
}

std::wstring FetchBuffer::AsText() const {
  if (!data || length == 0) return {};
  std::wstring text;
  text.reserve(std::strlen(reinterpret_cast<const char*>(data.get())));
  for (std::size_t i = 0; i < length && data[i] != 0; ++i) text += static_cast<wchar_t>(data[i]);
  return text;
}
