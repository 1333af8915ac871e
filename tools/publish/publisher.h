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
// <server URL><folder>/<jar name>. With a signing key, every package and library also gets
// its signature file beside it ("<md5>.pak.sig", "lib/x.jar.sig"; see update_signature.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto.h"

struct PublishRequest {
  std::wstring jarPath;      // the plain jar
  std::wstring libsFolder;   // every regular file directly in it is published; empty: none
  std::wstring serverRoot;   // the folder that the web server serves
  std::wstring folder = L"app";  // the application's folder below the root ('/' between parts)
  std::wstring serverUrl;    // where the root is served, ending in '/'; empty: the build's server
  std::wstring jarName;      // the local jar name in Config.ini; empty: the jar's file name
  std::wstring keyPath;      // the PEM private key to sign with; empty: no signatures
  std::optional<std::int64_t> signingTime;  // seconds since 1970 UTC; none: now
};

struct PublishResult {
  bool ok = false;
  std::wstring error;                 // why not, when !ok
  std::vector<std::wstring> warnings;
  std::wstring md5;                   // of the .pak
  std::wstring configLine;            // the line for Config.ini
  std::vector<std::wstring> written;  // files written, relative to the root, '/' separated
  std::vector<std::wstring> unchanged;  // files that already held the same bytes
};

// Writes only what differs, libraries and the package first and update.txt last, so that a
// server answering requests meanwhile never names a package it does not have yet. With a
// key, every signature is made afresh with the current time, even for files that did not
// change: publishing an older jar again is how a vendor rolls back, and the launcher takes
// a package only when its signature is not older than that of the one installed.
PublishResult Publish(const PublishRequest& request);

struct NewKeyResult {
  bool ok = false;
  std::wstring error;
  std::string publicKeyText;  // the value for LAUNCHER_UPDATE_PUBLIC_KEY
};

// Makes a new signing key and writes its private half to `path`, which must not exist.
NewKeyResult CreateSigningKey(const std::wstring& path);

// Why launchers built with `builtKey` (their LAUNCHER_UPDATE_PUBLIC_KEY) would refuse what
// is published with `signingKey` (none: unsigned); nothing when they would take it.
std::optional<std::wstring> SigningMismatch(std::string_view builtKey,
                                            const platform::P256PublicKey* signingKey);

// The server URL that the built launcher fetches runtime libraries from, without the
// "install/runtime/" part: "http://127.0.0.1:8080/" for the default build.
std::wstring BuiltServerUrl();

// A file or folder name that can stand in a URL and in libs.txt unescaped: letters, digits
// and . _ + -, not starting with a dot.
bool IsPlainName(const std::wstring& name);
