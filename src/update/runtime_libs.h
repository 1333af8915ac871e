// The runtime libraries listed in libs.txt: kept in the working folder and put on the
// Java class path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "update/download.h"

// An entry of libs.txt that names a file below the working folder, the same file on every
// system: a relative path with '/' between its parts, none of them "..", and nothing that
// Windows forbids or changes in a name: no drive letter, no < > : " | ? * or backslash, no
// control character, no part ending in a dot or a space, no part that is a device name
// (con, prn, aux, nul, com1-com9, lpt1-lpt9, with or without an extension, in any case).
bool IsSafeLibPath(const std::wstring& entry);

// Whether a file of that entry in the working folder would be read by the Java class
// loader as part of the application: the working folder is on the class path (after the
// jar and the libraries), so a class file there adds a class to the application's own and
// a file under META-INF/ a resource such as a service provider, outside any check. Class
// files (".class" in any case) and anything under META-INF/ (in any case) are.
bool ShadowsApplication(const std::wstring& entry);

// An entry that may be stored and put on the class path: a safe path that shadows nothing.
bool IsSafeLibEntry(const std::wstring& entry);

struct LibList {
  std::vector<std::wstring> accepted;  // in the order of the list, white space trimmed
  std::vector<std::wstring> rejected;  // refused entries, as they were written
};

// Splits a libs.txt text at ';', trims white space around each entry and drops empty
// ones; entries that are no IsSafeLibEntry go to `rejected`.
LibList ParseLibList(const std::wstring& text);

// The text of libs.txt's bytes up to the first zero byte: UTF-8 (a leading byte order mark
// dropped), or the ANSI code page where they are not valid UTF-8.
std::wstring LibListText(const std::uint8_t* data, std::size_t length);

// Whether a downloaded file may be stored as the library of that entry: never empty, and a
// whole zip archive (IsWholeZipFile) when the name ends in ".jar" or ".zip" in any case.
bool IsStorableLibrary(const std::wstring& entry, const std::wstring& path);

// Fetches libs.txt (one attempt) and downloads every listed library that is missing or
// empty in the working folder (up to three attempts each, streamed to a file beside it)
// from `runtimeBaseUrl` followed by its entry, percent-encoded (InstallMissingLibrary).
// A file that an earlier version stored for an entry that now ShadowsApplication is removed.
// Returns the full paths of the accepted entries, in the order of the list: the library
// part of the class path (empty when libs.txt could not be had). Failures are logged and
// otherwise ignored: the update goes on.
std::vector<std::wstring> SyncRuntimeLibs(const std::wstring& libsUrl, const std::wstring& runtimeBaseUrl,
                                          const std::wstring& workingFolder);

// What the run does with an entry that is no IsSafeLibEntry: logs "skip unsafe lib entry"
// and removes what an earlier version stored for it inside the working folder (it would
// be on the class path through the working folder itself, ahead of the jar).
void DropUnsafeLibEntry(const std::wstring& entry, const std::wstring& workingFolder);

// The library of `entry` (a safe entry) in the working folder: its full path.
std::wstring LibraryPath(const std::wstring& workingFolder, const std::wstring& entry);

// When the library of `entry` is missing or empty in the working folder: downloads it from
// `url` (options: the download's own bounds and check) beside its place and stores it when
// it IsStorableLibrary; logs "download file <entry>, from <url>" when stored. A body that
// is refused is not stored, so it is fetched again at the next start.
void InstallMissingLibrary(const std::wstring& entry, const std::wstring& url, const std::wstring& workingFolder,
                           const DownloadOptions& options = {});
