// The temporary jar: the stored jar with its scrambling removed, in the local application
// data folder, which the VM reads through the class path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The stored jar's bytes with the jar key removed. False when the file cannot be opened
// (also while another program holds it), is empty or cannot be read whole.
bool ReadJarFile(const std::wstring& fileName, std::vector<std::uint8_t>* bytes);

// "_Temp" in the local application data folder (made when missing), logged; empty when
// there is no such folder.
std::wstring TempJarPath();

// Replaces `path` with the bytes without ever truncating it in place (a running copy of the
// application may read it). When it cannot be replaced (on Windows while a running VM holds
// it), the bytes go to a new file beside it. Returns the file written, empty when none.
std::wstring WriteJarReplacing(const std::wstring& path, const std::uint8_t* bytes, std::size_t length);

// Writes the plain jar as the temporary jar and returns the file the class path must name:
// "_Temp", a sibling that had to be used instead, or "_Temp" with whatever it holds when
// nothing could be written; empty without a local application data folder.
std::wstring WriteTempJar(const std::uint8_t* bytes, std::size_t length);
