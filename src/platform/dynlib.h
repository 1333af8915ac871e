// Shared libraries loaded at run time (the Java runtime's VM library).
#pragma once

#include <string>

#include "platform/platform.h"

namespace platform {

// A loaded library that is unloaded when the object goes, on every path out of the code
// that loaded it.
class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  ~DynamicLibrary() { Unload(); }
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;
  DynamicLibrary(DynamicLibrary&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept {
    if (this != &other) {
      Unload();
      handle_ = other.handle_;
      other.handle_ = nullptr;
    }
    return *this;
  }

  // Loads the library at a full path, resolving all its symbols now. False on failure,
  // with *err (when given) holding the system's code and its text for the failure.
  bool Load(const std::wstring& path, Error* err = nullptr);
  bool IsLoaded() const { return handle_ != nullptr; }
  // The address of an exported symbol, or null.
  void* Symbol(const char* name) const;
  void Unload();

 private:
  void* handle_ = nullptr;
};

}  // namespace platform
