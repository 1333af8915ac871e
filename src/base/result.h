// The one way a step above the platform layer reports how it went: a value, or a Failure
// that says what kind of thing went wrong and why, in words for t.log. Steps return it;
// the step that decides what the run does next logs the reason and, at the edge, turns the
// kind into the user's text. Nothing below that decision writes to the log.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace base {

struct Failure {
  enum class Kind {
    kSystem,    // a system call failed (disk, folder, lock, library); code holds its number
    kNetwork,   // a transfer failed or the server answered with something other than asked
    kInvalid,   // bytes arrived or were read but are not what they must be
    kRefused,   // the bytes are well-formed but not trusted (signature, version, expiry)
    kBusy,      // another launcher of this installation holds what was needed
    kTooLarge,  // a bound was reached (size cap, free space)
  };
  Kind kind = Kind::kSystem;
  std::wstring reason;
  std::uint32_t code = 0;
};

inline Failure MakeFailure(Failure::Kind kind, std::wstring reason, std::uint32_t code = 0) {
  return Failure{kind, std::move(reason), code};
}

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  const Failure& failure() const { return std::get<1>(state_); }
  Failure&& TakeFailure() { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, Failure> state_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Failure failure) : failed_(true), failure_(std::move(failure)) {}

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const Failure& failure() const { return failure_; }
  Failure&& TakeFailure() { return std::move(failure_); }

 private:
  bool failed_ = false;
  Failure failure_;
};

using Status = Result<void>;

}  // namespace base
