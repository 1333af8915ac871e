// The main jar and the package that replaces it: the local jar's MD5, update.txt, and
// the fetch and verification of "<md5>.pak".
#pragma once

#include <optional>
#include <string>

#include "update/download.h"
#include "update/fetch_buffer.h"

// 32 lowercase hex digits of the file, or empty when it cannot be read.
std::wstring LocalJarMd5(const std::wstring& jarPath);

// update.txt as the worker reads it: the bytes up to the first zero byte, without a
// leading UTF-8 byte order mark, in the thread's ANSI code page, white space removed at
// both ends, A to Z lowered.
std::wstring VersionText(const FetchBuffer& buffer);

// Empty (no package published) or an MD5 as 32 hex digits; anything else, such as a
// captive portal's page answered with 200, is not a version file.
bool IsVersionText(const std::wstring& text);

// Where a package stays while it downloads, across attempts and runs: "<md5>.pak.part" in
// the working folder, so that a later run knows which version the bytes belong to.
std::wstring PartialPackagePath(const std::wstring& workingFolder, const std::wstring& md5);

// Removes the partial packages in the working folder but the one of `keepMd5` (none when
// it is empty): versions that are installed already or no longer published.
void RemovePartialPackages(const std::wstring& workingFolder, const std::wstring& keepMd5);

// Downloads the package at `url` into its partial file in the working folder: up to three
// attempts, each continuing from the bytes already there (also those of an earlier run).
// An attempt whose bytes do not hash to `md5` (changed in transit, cut short by a proxy, a
// partial file with wrong bytes) counts as failed and drops them. `onProgress` sees the
// bytes held and the whole length as they arrive.
std::optional<DownloadedFile> FetchPackage(const std::wstring& url, const std::wstring& workingFolder,
                                           const std::wstring& md5, const DownloadProgress& onProgress = {});

// Whether the downloaded package, unscrambled with the jar key, is a whole zip archive (as
// a jar is); logs why not. An empty file, a page or a package scrambled with another key
// is none, whatever its MD5.
bool IsUsablePackage(const DownloadedFile& package);
