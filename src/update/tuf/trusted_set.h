// The metadata one update run trusts, and the checks of TUF 1.0's client workflow (its
// section 5) that decide whether a new file may join it. No
// network and no disk here: the caller fetches and stores the bytes (updater.h), so every
// rule can be tried on bytes alone.
//
// Order of use: Start with the root the launcher was built with, UpdateRoot for each
// N+1.root.json (those kept on disk, then the server's), FinishRoots; then Timestamp,
// Snapshot, Targets, each either loaded from the disk (Load*, expiry not judged: an old file
// still bars rollbacks) or fetched (Update*); Check*Expiry says whether the file in the
// set is still timely. Expiry is never judged inside the other steps, so that a run whose
// metadata expired can still tell what it last trusted (the installed release).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "base/result.h"
#include "update/tuf/metadata.h"

namespace update::tuf {

class TrustedSet {
 public:
  // `rootBytes`: the trusted root (built in); it must be signed by a threshold of its own
  // root keys. `now`: the run's one clock reading (seconds since 1970 UTC).
  static base::Result<TrustedSet> Start(std::string_view rootBytes, std::int64_t now);

  // The next root: signed by a threshold of the trusted root's root keys and of its own,
  // version exactly one more. Its expiry does not matter yet (FinishRoots).
  base::Status UpdateRoot(std::string_view bytes);

  // After the last root: whether the timestamp or snapshot keys (or thresholds) of the
  // final root differ from those of the root trusted before `since`, in which case the
  // timestamp and snapshot kept on disk must go (recovery from a fast-forward attack).
  bool RolesRotatedSince(const Root& since) const;

  // Timestamp: signed by the root's timestamp keys; never a lower version than the trusted
  // one, nor naming a lower snapshot version. A new file of the trusted version changes
  // nothing (returns false: the trusted one stays); true when it replaced the trusted one.
  base::Result<bool> UpdateTimestamp(std::string_view bytes);
  // A timestamp kept on disk: signatures checked, nothing else.
  base::Status LoadTimestamp(std::string_view bytes);

  // Snapshot: requires a trusted timestamp. Fetched: its length and SHA-256 as the
  // timestamp gives them (when it does), its version the timestamp's, signed by the
  // snapshot keys, and no targets file of the trusted snapshot missing or at a lower
  // version. Loaded from disk: signatures only (an older snapshot still bars the targets
  // version from going back).
  base::Status UpdateSnapshot(std::string_view bytes);
  base::Status LoadSnapshot(std::string_view bytes);
  // Whether the trusted snapshot is the one the trusted timestamp names.
  bool SnapshotIsCurrent() const;

  // Targets: requires a trusted snapshot. Fetched: length and SHA-256 as the snapshot
  // gives them (when it does), its version the snapshot's, signed by the targets keys.
  // Loaded from disk: signatures only.
  base::Status UpdateTargets(std::string_view bytes);
  base::Status LoadTargets(std::string_view bytes);
  bool TargetsAreCurrent() const;

  // kRefused, with the t.log text "update metadata expired: <role>, expired <time>,
  // clock <time>", when the trusted file of that role has expired (or none is trusted).
  base::Status CheckExpiry(Role role) const;

  const Root& root() const { return root_; }
  const std::optional<Timestamp>& timestamp() const { return timestamp_; }
  const std::optional<Snapshot>& snapshot() const { return snapshot_; }
  const std::optional<Targets>& targets() const { return targets_; }
  std::int64_t now() const { return now_; }

  // The largest version counts a run takes in one go: a root chain longer than this per
  // run waits for the next start.
  static constexpr int kMaxRootSteps = 32;

 private:
  TrustedSet(Root root, std::int64_t now) : root_(std::move(root)), now_(now) {}
  base::Result<Snapshot> VerifiedSnapshot(std::string_view bytes) const;
  base::Result<Targets> VerifiedTargets(std::string_view bytes) const;

  Root root_;
  std::optional<Timestamp> timestamp_;
  std::optional<Snapshot> snapshot_;
  std::optional<Targets> targets_;
  std::int64_t now_;
};

// Whether `bytes` have the length and SHA-256 that `meta` gives, where it gives them.
base::Status CheckMetaFile(const MetaFile& meta, std::string_view bytes, const std::wstring& name);

}  // namespace update::tuf
