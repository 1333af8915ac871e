// Turns a plain application jar and a folder of runtime libraries into the files that the
// launcher requests from the vendor's web server:
//
//   <root>/<folder>/<md5>.pak        the jar, every byte XOR-ed with the jar key
//   <root>/<folder>/<md5>.pak.idx    its block index, for differential updates (a jar
//                                    that is no whole zip archive gets none)
//   <root>/<folder>/update.txt       the MD5 of that .pak, 32 lowercase hex digits
//   <root>/<folder>/libs.txt         "lib/a.jar;lib/b.jar" (empty without libraries)
//   <root>/install/runtime/lib/...   the libraries, unchanged
//
// and to the one line of Config.ini that points the launcher at them:
// <server URL><folder>/<jar name>. With key folders it also writes the signed channel that
// launchers built with a root read, <root>/<folder>/tuf/ (see tuf_repository.h).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "tuf_keys.h"
#include "tuf_repository.h"

namespace publish {

// Where the signed channel is and with what it is signed: common to every command that
// signs.
struct SigningRequest {
  std::vector<std::wstring> keyFolders;  // empty: unsigned only
  Expiry expiry;
  std::optional<std::int64_t> now;  // seconds since 1970 UTC; none: the clock
};

struct PublishRequest {
  std::wstring jarPath;      // the plain jar
  std::wstring libsFolder;   // every regular file directly in it is published; empty: none
  std::wstring serverRoot;   // the folder that the web server serves
  std::wstring folder = L"app";  // the application's folder below the root ('/' between parts)
  std::wstring serverUrl;    // where the root is served, ending in '/'; empty: the build's server
  std::wstring jarName;      // the local jar name in Config.ini; empty: the jar's file name
  SigningRequest signing;
};

// What a command did, also when it failed part way (the warnings, for one).
struct PublishReport {
  std::vector<std::wstring> warnings;
  std::wstring md5;                     // of the .pak
  std::wstring configLine;              // the line for Config.ini
  std::vector<std::wstring> written;    // files written, relative to the root, '/' separated
  std::vector<std::wstring> unchanged;  // files that already held the same bytes
  std::vector<std::wstring> removed;    // expired metadata taken away
  std::wstring rootPath;                // a rotation's new root.json, to build launchers with
};

// Writes only what differs: libraries and the package first and update.txt last, so that
// a server answering requests meanwhile never names a package it does not have yet; then,
// with key folders, the signed release (targets, then their metadata, timestamp.json last).
// Everything is read, checked and signed before the first file is written: a wrong key or a
// repository that does not belong to the keys leaves the server as it was.
base::Status Publish(const PublishRequest& request, PublishReport* report);

// New snapshot and timestamp metadata for the release that is published, fresh expiry, and
// nothing else: what a timer job runs with the online keys.
base::Status Refresh(const std::wstring& serverRoot, const std::wstring& folder,
                     const SigningRequest& signing, PublishReport* report);

// The next root, with the keys of `newKeyFolder` in place of the old ones of their roles,
// then the release signed anew under it; the new root is also written to
// newKeyFolder/root.json, to build launchers with from then on.
base::Status RotateKeys(const std::wstring& serverRoot, const std::wstring& folder,
                        const std::wstring& newKeyFolder, const std::map<Role, int>& thresholds,
                        const SigningRequest& signing, PublishReport* report);

// The server URL that the built launcher fetches runtime libraries from, without the
// "install/runtime/" part: "http://127.0.0.1:8080/" for the default build.
std::wstring BuiltServerUrl();

// A file or folder name that can stand in a URL and in libs.txt unescaped: letters, digits
// and . _ + -, not starting with a dot.
bool IsPlainName(const std::wstring& name);

// The clock the commands sign with, in seconds since 1970 UTC.
std::int64_t Now();

}  // namespace publish
