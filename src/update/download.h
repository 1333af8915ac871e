// Streamed downloads: a file goes to the disk as its bytes arrive and is hashed on the way
// (MD5 and SHA-256), through a few fixed buffers whatever its size, so that neither the
// memory nor a second read of the file grows with it.
//
// Every attempt is one GET that must end in a complete 200 (or, when continuing, a 206
// that continues exactly the bytes on disk); anything else fails the attempt and is logged
// as the small fetches log it ("start get url: %s", "invalid http statue: %d from:%s",
// "exception:%s", "http complete, len = %d").
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/retry.h"
#include "platform/crypto.h"
#include "platform/http.h"

// A downloaded file on the disk, flushed, not yet in its place.
struct DownloadedFile {
  std::wstring path;  // the file that holds the bytes
  std::int64_t length = 0;
  std::wstring md5;   // 32 lowercase hex digits of the bytes
  platform::Sha256Digest sha256{};
  bool sha256Ok = false;  // false when the system could not hash: sha256 is then all zeros
};

// The bytes held so far (with those an earlier attempt or run left on the disk) and the
// file's whole length, -1 while the server has not said it. Called on the downloading
// thread, often: keep it cheap.
using DownloadProgress = std::function<void(std::int64_t held, std::int64_t total)>;

struct DownloadOptions {
  // The idle time-out and the rate floor end an attempt that goes nowhere; there is no
  // whole-request deadline by default, since a large file on a slow line must finish.
  platform::HttpOptions http;
  DownloadProgress onProgress;
  // Judges the whole file at the end of an attempt (e.g. its MD5 against the published
  // one); false fails the attempt, and a resumable download then drops the bytes, which
  // continuing cannot make right. The check logs its own reason. Empty: every file passes.
  std::function<bool(const DownloadedFile&)> verify;
  // 0 or more: the file has at most this many bytes (a signed length). The download stops
  // there, whatever the server announces or keeps sending, and takes what it has as the
  // whole file for `verify` to judge; progress counts toward it. -1: no such bound.
  std::int64_t maxLength = -1;
  int attempts = base::kAttempts;
  // The largest file this download may make, in bytes; 0: none. Whatever the bound, a
  // download never takes the disk's last reserve (DiskReserve). A server that announces
  // or sends more than either allows ends the download at once: no further attempt, and
  // none of its bytes kept for a later one (an endless body would take as much again).
  std::int64_t maxBytes = 0;
};

// What a download leaves free on a volume of `volumeBytes`: the smaller of 5 % of it and
// 256 MiB, so that a full download never fills the user's disk.
std::int64_t DiskReserve(std::int64_t volumeBytes);

// A file fetched whole by every attempt (a runtime library): into a fresh temporary file
// beside `target` ("<target>.part-<pid>-<n>"; such files of killed runs are removed first).
// The file that passed is returned for the caller to check further and then PutInPlace or
// Discard; nothing when every attempt failed, and then no temporary file is left.
std::optional<DownloadedFile> DownloadBeside(const std::wstring& url, const std::wstring& target,
                                             const DownloadOptions& options = {});

// A file that may take several attempts or runs (the package): its bytes go to
// `partialPath` and stay there when an attempt breaks off (a dropped connection, a stall,
// a closed window, a killed process). The next attempt, and the next run given the same
// path, first hash the bytes on disk (one read) and then ask only for the rest
// ("Range: bytes=N-"). A server that answers with the whole file (200) is read from byte 0;
// an answer that does not continue exactly those bytes (another start, a missing or
// inconsistent Content-Range), or a file that is already complete but fails `verify`,
// makes the attempt start again from byte 0 with a plain GET. Give each version of the
// file its own path (e.g. named after its MD5) so that the bytes on disk are always of the
// file asked for. While another process continues the same path, this one downloads into
// a temporary file of its own instead. Nothing when every attempt failed; the partial file
// then stays for the next run.
std::optional<DownloadedFile> DownloadResumable(const std::wstring& url, const std::wstring& partialPath,
                                                const DownloadOptions& options = {});

// Puts the downloaded file in place of `target` in one step: afterwards `target` is the
// old or the new file, never a mix. On failure `target` is untouched and the downloaded
// file stays where it is (Discard it, or keep a resumable one for the next run).
bool PutInPlace(const DownloadedFile& file, const std::wstring& target, platform::Error* err = nullptr);

// Removes the downloaded file: it was refused.
void Discard(const DownloadedFile& file);
