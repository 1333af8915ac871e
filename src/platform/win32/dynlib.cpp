// Windows: loading the Java runtime's DLL.
#include <windows.h>

#include "platform/dynlib.h"

namespace platform {

namespace {

// Windows 7 has these only with its update KB2533623: looked up rather than imported, so
// that the launcher still starts without it.
struct SearchPathCalls {
  using Add = DLL_DIRECTORY_COOKIE(WINAPI*)(PCWSTR);
  using Remove = BOOL(WINAPI*)(DLL_DIRECTORY_COOKIE);
  Add add = nullptr;
  Remove remove = nullptr;
};

const SearchPathCalls& SearchPath() {
  static const SearchPathCalls calls = [] {
    SearchPathCalls c;
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel != nullptr) {
      c.add = reinterpret_cast<SearchPathCalls::Add>(reinterpret_cast<void*>(GetProcAddress(kernel, "AddDllDirectory")));
      c.remove = reinterpret_cast<SearchPathCalls::Remove>(reinterpret_cast<void*>(GetProcAddress(kernel, "RemoveDllDirectory")));
    }
    if (c.add == nullptr || c.remove == nullptr) c = SearchPathCalls{};
    return c;
  }();
  return calls;
}

}  // namespace

bool DynamicLibrary::Load(const std::wstring& path, Error* err, const std::wstring& dependencyFolder) {
  Unload();
  // The search flags want a fully qualified path in the system's own spelling.
  const std::wstring native = ToNativeSeparators(path);
  const SearchPathCalls& search = SearchPath();
  if (search.add == nullptr) {
    // Without the search flags: the DLL's own folder first, then the classic order.
    handle_ = LoadLibraryExW(native.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (handle_ == nullptr) SetLastSystemError(err);
    return handle_ != nullptr;
  }
  if (!dependencyFolder.empty()) {
    searchCookie_ = search.add(ToNativeSeparators(dependencyFolder).c_str());
    if (searchCookie_ == nullptr) {
      SetLastSystemError(err);
      return false;
    }
  }
  // The DLL's own folder, the folder added above and System32: never the current
  // directory, the executable's folder or PATH, where a stray DLL of the same name as one
  // of the runtime's could stand.
  handle_ = LoadLibraryExW(native.c_str(), nullptr,
                           LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  if (handle_ == nullptr) {
    SetLastSystemError(err);
    Unload();
  }
  return handle_ != nullptr;
}

void* DynamicLibrary::Symbol(const char* name) const {
  if (handle_ == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void DynamicLibrary::Unload() {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
  if (searchCookie_ != nullptr) SearchPath().remove(static_cast<DLL_DIRECTORY_COOKIE>(searchCookie_));
  searchCookie_ = nullptr;
}

}  // namespace platform
