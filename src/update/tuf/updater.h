// One refresh of the signed channel's metadata: the TUF client workflow over HTTP, with the
// trusted files kept in a folder of the working folder between runs.
//
// Server: `metadataUrl` (the folder of the Config.ini URL followed by "tuf/") serves
// N.root.json for every root version, timestamp.json, and, with consistent snapshots,
// V.snapshot.json and V.targets.json. A current installation costs two requests: the probe
// for the next root (answered 404) and timestamp.json; the snapshot and the targets are
// fetched only when the timestamp names other versions than those on disk.
//
// Disk (`storeFolder`): N.root.json for each root after the built-in one, timestamp.json,
// snapshot.json and targets.json, each as the server sent it, each replaced in one step
// once it has been verified. Every start verifies them again from the built-in root on,
// so a file changed on the disk is dropped, never trusted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "update/tuf/metadata.h"

namespace update::tuf {

// The largest metadata file of each kind that is fetched or read from the disk.
inline constexpr std::size_t kMaxRootSize = 512 * 1024;
inline constexpr std::size_t kMaxTimestampSize = 16 * 1024;
inline constexpr std::size_t kMaxSnapshotSize = 1024 * 1024;
inline constexpr std::size_t kMaxTargetsSize = 4 * 1024 * 1024;

struct RefreshResult {
  enum class Problem {
    kNone,         // `release` holds the current, timely release
    kUnavailable,  // a metadata file could not be fetched (withheld, network)
    kRefused,      // a file was not what the trusted metadata allows (or malformed)
    kExpired,      // the trusted metadata of a role has expired
    kNoTrust,      // the built-in root itself is unusable
  };
  Problem problem = Problem::kNone;
  // For every problem: the t.log line that says it, e.g. "update metadata expired:
  // timestamp, expired 2030-01-01T00:00:00Z, clock 2030-01-02T08:00:00Z".
  std::wstring reason;
  // Further t.log lines (a clock far off, a file that could not be kept).
  std::vector<std::wstring> notes;

  // The verified targets of the current release (problem kNone only).
  std::optional<Targets> release;
  // The newest targets metadata this client had verified before (signatures checked
  // again now, expiry not): what is installed, for a run that installs nothing.
  std::optional<Targets> lastTrusted;
  // Whether target files are named by their hashes (the root's consistent_snapshot).
  bool consistentSnapshot = true;
};

// The refresh. `builtInRoot`: the root the launcher was built with. `now`: seconds since
// 1970 UTC, read once for the run. Requests and failures of requests are logged by the
// fetch as every fetch logs them; everything else is in the result.
RefreshResult Refresh(const std::string& builtInRoot, const std::wstring& metadataUrl,
                      const std::wstring& storeFolder, std::int64_t now);

// The URL of a target file below `targetsUrl` (the metadata URL followed by "targets/"):
// the target path's folders, then "<sha256>.<file name>" with consistent snapshots, each
// part percent-encoded.
std::wstring TargetUrl(const std::wstring& targetsUrl, const std::string& targetPath, const TargetFile& file,
                       bool consistentSnapshot);

}  // namespace update::tuf
