// Windows: loading the Java runtime's DLL and class-path text in the ANSI code page.
#include <windows.h>

#include <vector>

#include "platform/dynlib.h"

namespace platform {

LibraryHandle LoadDynamicLibrary(const std::wstring& path, Error* err) {
  HMODULE module = LoadLibraryW(path.c_str());
  if (module == nullptr) SetLastSystemError(err);
  return module;
}

void* FindLibrarySymbol(LibraryHandle library, const char* name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void FreeDynamicLibrary(LibraryHandle library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

std::wstring PrepareLocaleForJvm() { return {}; }

// The ANSI form, or false when some character has no place in the code page.
static bool ToAnsiExactly(const std::wstring& text, std::string* out) {
  out->clear();
  if (text.empty()) return true;
  BOOL lossy = FALSE;
  int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                              nullptr, 0, nullptr, &lossy);
  if (n <= 0) return false;
  out->resize(static_cast<size_t>(n));
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                      out->data(), n, nullptr, &lossy);
  return !lossy;
}

std::string ClassPathElement(const std::wstring& path) {
  std::string ansi;
  if (ToAnsiExactly(path, &ansi)) return ansi;
  DWORD needed = GetShortPathNameW(path.c_str(), nullptr, 0);
  if (needed != 0) {
    std::vector<wchar_t> buffer(needed);
    DWORD n = GetShortPathNameW(path.c_str(), buffer.data(), needed);
    std::string shortAnsi;
    if (n != 0 && n < needed && ToAnsiExactly(std::wstring(buffer.data(), n), &shortAnsi))
      return shortAnsi;
  }
  // No short name on this volume (or none that fits the code page): the VM will not find
  // the element either way, and the lossy form at least shows in its messages.
  return WideToAnsi(path);
}

}  // namespace platform
