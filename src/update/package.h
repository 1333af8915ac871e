// The main jar and the package that replaces it: the local jar's MD5, update.txt, and
// the fetch and verification of "<md5>.pak".
#pragma once

#include <string>

#include "update/fetch_buffer.h"

// 32 lowercase hex digits of the file, or empty when it cannot be read.
std::wstring LocalJarMd5(const std::wstring& jarPath);

// update.txt as the worker reads it: the bytes up to the first zero byte in the thread's
// ANSI code page, white space removed at both ends, A to Z lowered.
std::wstring VersionText(const FetchBuffer& buffer);

// Empty (no package published) or an MD5 as 32 hex digits; anything else, such as a
// captive portal's page answered with 200, is not a version file.
bool IsVersionText(const std::wstring& text);

// Fetches the package into `buffer`: up to three attempts, and an attempt whose bytes do
// not hash to `md5` (changed in transit, cut short by a proxy) counts as failed.
bool FetchPackage(FetchBuffer& buffer, const std::wstring& url, const std::wstring& md5);
