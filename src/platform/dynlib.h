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
  DynamicLibrary(DynamicLibrary&& other) noexcept
      : handle_(other.handle_), searchCookie_(other.searchCookie_) {
    other.handle_ = other.searchCookie_ = nullptr;
  }
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept {
    if (this != &other) {
      Unload();
      handle_ = other.handle_;
      searchCookie_ = other.searchCookie_;
      other.handle_ = other.searchCookie_ = nullptr;
    }
    return *this;
  }

  // Loads the library at a full path, resolving all its symbols now. The libraries it
  // depends on are looked for in its own folder, then in `dependencyFolder` (when given),
  // then in the system's folders; the process's current directory and PATH play no part,
  // and nothing process-wide is changed for it (Windows; Linux libraries name their own
  // search path). False on failure, with *err (when given) holding the system's code and
  // its text for the failure.
  bool Load(const std::wstring& path, Error* err = nullptr, const std::wstring& dependencyFolder = {});
  bool IsLoaded() const { return handle_ != nullptr; }
  // The address of an exported symbol, or null.
  void* Symbol(const char* name) const;
  void Unload();

 private:
  void* handle_ = nullptr;
  void* searchCookie_ = nullptr;  // Windows: the dependency folder added to the search
};

}  // namespace platform
