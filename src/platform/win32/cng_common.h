// What the CNG code of the platform layer shares: handles that close themselves and the
// text of a failed call.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <cstdint>

#include "platform/platform.h"

namespace platform::cng {

inline constexpr ULONG kCoordinate = 32;

inline bool Succeeded(NTSTATUS status) { return status >= 0; }

inline Error CngError(const wchar_t* call, NTSTATUS status) {
  Error e;
  e.code = static_cast<std::uint32_t>(status);
  wchar_t text[96];
  swprintf(text, 96, L"%ls failed with status 0x%08lX", call, static_cast<unsigned long>(status));
  e.message = text;
  return e;
}

class Algorithm {
 public:
  explicit Algorithm(const wchar_t* name) {
    status_ = BCryptOpenAlgorithmProvider(&handle_, name, nullptr, 0);
    if (!Succeeded(status_)) handle_ = nullptr;
  }
  ~Algorithm() {
    if (handle_) BCryptCloseAlgorithmProvider(handle_, 0);
  }
  Algorithm(const Algorithm&) = delete;
  Algorithm& operator=(const Algorithm&) = delete;
  BCRYPT_ALG_HANDLE get() const { return handle_; }
  NTSTATUS status() const { return status_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
  NTSTATUS status_ = 0;
};

class Key {
 public:
  Key() = default;
  ~Key() { reset(); }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  BCRYPT_KEY_HANDLE* out() {
    reset();
    return &handle_;
  }
  BCRYPT_KEY_HANDLE get() const { return handle_; }
  void reset() {
    if (handle_) BCryptDestroyKey(handle_);
    handle_ = nullptr;
  }

 private:
  BCRYPT_KEY_HANDLE handle_ = nullptr;
};

}  // namespace platform::cng
