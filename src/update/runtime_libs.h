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

// Fetches libs.txt (one attempt), hands the accepted entries to the launch state as the
// library part of the class path and downloads every missing library (up to three
// attempts each) from the runtime-library base URL into the working folder. Failures
// are logged and otherwise ignored: the update goes on.
void SyncRuntimeLibs(const std::wstring& libsUrl);

// The runtime-library base URL in use: the built-in one unless a test changed it.
std::wstring RuntimeBaseUrl();
// For tests: fetch libraries from their own server. An empty URL restores the built-in one.
void SetRuntimeBaseUrlForTesting(const std::wstring& url);
