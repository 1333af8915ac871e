// The update check, run once per process on its own thread.
#pragma once

#include <cstdint>
#include <string>

// The whole run: working folder, version line, runtime check, Config.ini, local MD5,
// runtime libraries, update.txt and, when the MD5s differ, the package. Reports only
// through the current launch state; always returns 0.
std::uint32_t UpdateThreadProc(void* unused);

// 32 lowercase hex digits of the local jar (jarName in the working folder), or empty.
std::wstring GetLocalJarMd5();

// Points packageUrl at "<server folder><text>.pak"; null text or no slash: no change.
void SelectPackage(const wchar_t* text);
