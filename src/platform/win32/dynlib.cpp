// Windows: loading the Java runtime's DLL.
#include <windows.h>

#include "platform/dynlib.h"

namespace platform {

bool DynamicLibrary::Load(const std::wstring& path, Error* err) {
  Unload();
  handle_ = LoadLibraryW(path.c_str());
  if (handle_ == nullptr) SetLastSystemError(err);
  return handle_ != nullptr;
}

void* DynamicLibrary::Symbol(const char* name) const {
  if (handle_ == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void DynamicLibrary::Unload() {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

}  // namespace platform
