// Replacing a file so that a crash, a kill or a power cut at any moment leaves either the
// old or the new content under its name, never a mix or an empty file.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

namespace platform {

// Writes the bytes to a fresh temporary file beside `path`, flushes them to the disk and
// renames the temporary file over `path`. On failure `path` is untouched and the
// temporary file is removed.
bool WriteFileAtomically(const std::wstring& path, const void* data, std::size_t size,
                         Error* err = nullptr);

// The name of a temporary file beside `path` that no other process or call uses and that
// nobody can foresee: "<path>.<tag>-<process id>-<16 random hex digits>", the random part
// from the system's generator. Open it with OpenMode::kCreateNewExclusive.
std::wstring UniqueSiblingName(const std::wstring& path, const wchar_t* tag);

// Removes the UniqueSiblingName files of `path` and `tag` that processes which no longer
// run left behind (a launcher killed while it wrote an update). Those of running processes
// stay: they may still be written or in use.
void RemoveStaleSiblings(const std::wstring& path, const wchar_t* tag);

}  // namespace platform
