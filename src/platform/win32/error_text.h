// The system's own text for a Windows error code, shared by every part of the Windows
// platform layer that reports a failure.
#pragma once

#include <windows.h>

#include <string>

namespace platform {

// The text the system has for `code`, looked up in the system's message table and in
// WinINet's (whose codes, 12000 and up, live in its own module), without the trailing
// line end and full stop; empty when neither has one (Wine has none for many WinINet codes).
std::wstring SystemErrorText(DWORD code);

}  // namespace platform
