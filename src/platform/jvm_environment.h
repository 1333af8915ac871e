// What the process needs from the system around a Java VM of the private runtime: where
// the runtime keeps its VM library, and a character type the VM can decode the class path
// with. One implementation per platform (win32/, posix/).
#pragma once

#include <string>
#include <vector>

namespace platform {

// VM library candidates relative to the executable's folder, most preferred first.
std::vector<std::wstring> RuntimeLibraryCandidates();

// A Java VM decodes the class path with the process's locale: without a UTF-8 locale a
// non-ASCII entry cannot be found. Gives the environment a UTF-8 character type (keeping
// the rest of the locale) when it has none, before the VM reads it. Nothing to do on
// Windows, where the VM reads the ANSI code page. Returns what it set, empty when nothing.
std::wstring PrepareLocaleForJvm();

}  // namespace platform
