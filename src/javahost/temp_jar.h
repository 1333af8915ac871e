// The temporary jar: the stored jar with its scrambling removed, in the local application
// data folder, which the VM reads through the class path.
//
// Each installation has its own, named after its working folder, so that launches of two
// installations never touch each other's. Within one installation a launch holds a shared
// lock on "<temporary jar>.lock" for as long as it runs from the temporary jar: nobody
// replaces it meanwhile, and a launch that would have to (the stored jar changed) writes a
// file of its own beside it instead.
//
// The temporary jar is rewritten only when it may not hold the stored jar's bytes: a record
// "<temporary jar>.state" beside it keeps the stamps of both files as they were when one
// was last made from or compared with the other (see launch/stamp_record.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "platform/platform.h"

// The stored jar's bytes with the jar key removed, all at once: for the vendor tools and
// their tests; the launch streams instead. False when the file cannot be opened (also while
// another program writes it), is empty or cannot be read whole.
bool ReadJarFile(const std::wstring& fileName, std::vector<std::uint8_t>* bytes);

// The temporary jar's file name for a working folder: "_Temp-" and 8 lowercase hex digits
// of the FNV-1a hash of the folder's full path (in UTF-8).
std::wstring TempJarName(const std::wstring& workingFolder);

// Writes the bytes of `storedJar` (read from its start, in chunks of 1 MiB, unscrambled on
// the way) to `path` without ever truncating it in place: to a sibling first, flushed and
// renamed over it (a running copy of the application may read the old one). When it cannot
// be replaced (on Windows while a running VM holds it), the written sibling takes a unique
// name beside it instead. Returns the file written, empty when none (*err then says why).
std::wstring WriteJarReplacing(const std::wstring& path, platform::File& storedJar,
                               platform::Error* err = nullptr);

// The temporary jar one launch runs, and the lock that keeps it so while the launch lasts.
struct TempJar {
  std::wstring path;    // what the class path names
  platform::File hold;  // open while the launch runs; not open for a file of the launch's own
};

enum class TempJarFailure {
  kNoStoredJar,  // the stored jar is missing, empty or cannot be opened
  kNotWritten,   // no temporary jar with the stored jar's bytes can be had
};

// Makes sure that a temporary jar in `appDataFolder` holds the stored jar's unscrambled
// bytes for this launch and returns it. "_Temp-<hash>" is kept when its record proves it
// current (or, for a record too fresh to prove it, when its bytes compare equal), and
// rewritten otherwise; while other launches of the installation run from it and it is not
// current, a unique file beside it is written for this launch alone. Never an older jar:
// when nothing can be written the launch gets kNotWritten. Logs what it does.
std::variant<TempJar, TempJarFailure> PrepareTempJar(const std::wstring& storedJar,
                                                     const std::wstring& workingFolder,
                                                     const std::wstring& appDataFolder);
