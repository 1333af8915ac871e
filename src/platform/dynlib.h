// Shared libraries loaded at run time (the Java runtime's VM library), and the few things
// the process must settle before a Java VM starts inside it.
#pragma once

#include <string>

#include "platform/platform.h"

namespace platform {

// A loaded library; null when none.
using LibraryHandle = void*;

// Loads the library at a full path, resolving all its symbols now. Null on failure, with
// *err (when given) holding the system's code and its text for the failure.
LibraryHandle LoadDynamicLibrary(const std::wstring& path, Error* err = nullptr);
// The address of an exported symbol, or null.
void* FindLibrarySymbol(LibraryHandle library, const char* name);
void FreeDynamicLibrary(LibraryHandle library);

// A Java VM decodes the class path with the process's locale: without a UTF-8 locale a
// non-ASCII entry cannot be found. Gives the environment a UTF-8 character type (keeping
// the rest of the locale) when it has none, before the VM reads it. Nothing to do on Windows,
// where the VM reads the ANSI code page. Returns what it set, empty when nothing.
std::wstring PrepareLocaleForJvm();

// One class-path element as the VM expects it: in the ANSI code page (UTF-8 on Linux). On
// Windows a path the code page cannot represent is given by its short (8.3) name, where
// the volume has one, rather than as question marks.
std::string ClassPathElement(const std::wstring& path);

}  // namespace platform
