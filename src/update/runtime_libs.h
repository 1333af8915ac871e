// The runtime libraries listed in libs.txt: kept in the working folder and put on the
// Java class path.
#pragma once

#include <string>
#include <vector>

// An entry of libs.txt that may be written below the working folder: a relative path
// with '/' between its parts, none of them "..", and no drive letter, colon, backslash
// or control character.
bool IsSafeLibEntry(const std::wstring& entry);

struct LibList {
  std::vector<std::wstring> accepted;  // in the order of the list, white space trimmed
  std::vector<std::wstring> rejected;  // unsafe entries, as they were written
};

// Splits a libs.txt text at ';', trims white space around each entry and drops empty
// ones; unsafe entries go to `rejected`.
LibList ParseLibList(const std::wstring& text);

// Fetches libs.txt (one attempt) and downloads every listed library that is missing in
// the working folder (up to three attempts each) from `runtimeBaseUrl` followed by its
// entry. Returns the full paths of the accepted entries, in the order of the list: the
// library part of the class path (empty when libs.txt could not be had). Failures are
// logged and otherwise ignored: the update goes on.
std::vector<std::wstring> SyncRuntimeLibs(const std::wstring& libsUrl, const std::wstring& runtimeBaseUrl,
                                          const std::wstring& workingFolder);
