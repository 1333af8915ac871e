// A loadable library that is no Java runtime: it lacks JNI_CreateJavaVM. It remembers the
// current folder of the moment it was loaded, which loading it must leave alone.
#include <filesystem>
#include <string>

namespace {
std::wstring LoadedIn() {
  std::error_code ignored;
  return std::filesystem::current_path(ignored).wstring();
}
const std::wstring loadedIn = LoadedIn();
}  // namespace

// Exported by default on both platforms (mingw exports everything from a DLL that marks
// nothing for export).
extern "C" const wchar_t* TestLibraryLoadedIn() { return loadedIn.c_str(); }
