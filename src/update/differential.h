// Differential updates: the new package built from the older jar the launcher holds and
// the bytes it lacks, fetched with Range requests from the package itself.
//
// The package's block index ("<md5>.pak.idx", see block_index.h) names its pieces; every
// piece that the old jar holds too (found by its hash, wherever it lies there) is copied
// from the jar, the others are fetched. The result goes to the package's partial file,
// front to back, so that it always holds the first bytes of the new package whatever
// built them: a run that breaks off (or is killed) leaves bytes that the next run, or the
// full download, goes on from. It is hashed on the way like a download and checked
// against the published MD5; the caller then checks it exactly as a downloaded package.
//
// The index itself needs no trust: it only says where to look. Wrong or damaged, it makes
// bytes that fail the MD5 (and the differential update fails over to the full download),
// and at worst costs the bytes fetched meanwhile.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/result.h"
#include "update/download.h"

struct DifferentialRequest {
  std::wstring oldJar;       // the stored jar, scrambled with jarKey like the package
  std::wstring packageUrl;   // "<md5>.pak"
  std::wstring indexUrl;     // its block index
  std::wstring partialPath;  // where the package is built: its partial file
  std::wstring md5;          // what the built package must hash to (lowercase hex)
  std::uint8_t jarKey = 0;
  DownloadProgress onProgress;  // the bytes fetched so far, of those to fetch
};

struct DifferentialOutcome {
  DownloadedFile file;       // the package, verified against the MD5, not yet in place
  std::uint64_t reused = 0;   // bytes copied from the old jar by this run
  std::uint64_t fetched = 0;  // bytes of the package fetched by this run
  std::uint64_t kept = 0;     // bytes an earlier run had built already
};

// One differential update: the old jar's pieces, the index (one request, only now), the
// missing pieces (one request for up to 64 ranges; fewer pieces when the server answers
// one range at a time), the result verified. A failure says why (the index missing or
// damaged, the server ignoring Range, the package changed, an MD5 mismatch, the partial
// file held by another launcher); the bytes built so far stay in the partial file unless
// they were proven wrong. Logs only its requests, as every fetch does.
base::Result<DifferentialOutcome> BuildPackageDifferentially(const DifferentialRequest& request);

// The update run's differential step, tried once before the full download: nothing when
// the old jar cannot be used or anything failed, which t.log tells
// ("differential update failed: <reason>"); the package otherwise, with where its bytes
// came from in t.log ("differential update: <n> bytes reused, <m> bytes fetched").
std::optional<DownloadedFile> FetchPackageDifferentially(const std::wstring& oldJar, const std::wstring& packageUrl,
                                                         const std::wstring& workingFolder, const std::wstring& md5,
                                                         const DownloadProgress& onProgress);
