// Linux: loading the Java runtime's libjvm.so.
#include <dlfcn.h>
#include <errno.h>

#include "platform/dynlib.h"

#include "base/text.h"

namespace platform {

// libjvm.so finds the runtime's other libraries through its own run path ($ORIGIN), so
// the dependency folder needs no part here.
bool DynamicLibrary::Load(const std::wstring& path, Error* err, const std::wstring&) {
  Unload();
  errno = 0;
  handle_ = dlopen(base::WideToUtf8(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr && err != nullptr) {
    int code = errno;
    const char* text = dlerror();
    err->code = static_cast<std::uint32_t>(code);
    err->message = base::Utf8ToWide(text ? text : "unknown error");
  }
  return handle_ != nullptr;
}

void* DynamicLibrary::Symbol(const char* name) const {
  if (handle_ == nullptr) return nullptr;
  return dlsym(handle_, name);
}

void DynamicLibrary::Unload() {
  if (handle_ != nullptr) dlclose(handle_);
  handle_ = nullptr;
}

}  // namespace platform
