// The signed channel's repository in the server folder, as launchers built with a root
// read it (a public contract: the README's "Signed updates" describes it):
//
//   <folder>/tuf/1.root.json ... N.root.json   every root ever published, each signed by
//                                              the root keys of the one before and its own
//   <folder>/tuf/N.targets.json                one release: the package and each library,
//                                              with length and SHA-256
//   <folder>/tuf/N.snapshot.json               names the current targets metadata
//   <folder>/tuf/timestamp.json                names the current snapshot; short-lived
//   <folder>/tuf/targets/<sha256>.<jar name>   the package (the scrambled jar, as <md5>.pak)
//   <folder>/tuf/targets/libs/<dir>/<sha256>.<name>   each library <dir>/<name> of libs.txt
//
// The package's target path is the jar's name in Config.ini; a library's is "libs/" and its
// libs.txt entry, with its place on the class path in "custom": {"class_path_index": N}.
//
// Every change is first worked out in memory, signed and checked; only then is anything
// written, targets first and timestamp.json last, so that a launcher asking meanwhile sees
// the old release or the new one whole, and a refused run leaves the server as it was.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/result.h"
#include "server_folder.h"
#include "tuf_keys.h"

namespace publish {

// How long each role's metadata stays valid after it is signed, in days.
struct Expiry {
  static constexpr int kDefaultRoot = 365;
  static constexpr int kDefaultTargets = 90;
  static constexpr int kDefaultSnapshot = 7;
  static constexpr int kDefaultTimestamp = 1;
  static constexpr int kMaxDays = 3650;

  std::map<Role, int> days;  // the roles given; the others take their default
  int DaysOf(Role role) const;
};

// What one release puts into the targets metadata.
struct ReleaseTargets {
  std::wstring jarName;  // the package's target path
  std::string package;   // the bytes as served (scrambled)
  // Each library's libs.txt entry ("lib/x.jar") and bytes, in class-path order.
  std::vector<std::pair<std::wstring, std::string>> libraries;
};

// The writes and removals that one command makes, in the order they must happen.
struct RepositoryChange {
  std::vector<std::pair<std::wstring, std::string>> files;  // relative to the server folder
  std::vector<std::wstring> removals;                       // done after every write
  std::vector<std::wstring> warnings;
  std::optional<nlohmann::json> newRoot;                    // the root a rotation made
};

class Repository {
 public:
  // Reads the repository in `tufFolder` (relative to the server folder, ending in '/') and
  // checks its chain of roots from the newest root.json of the key folders (the one
  // launchers are built with): each next root must carry the signatures of enough root
  // keys of the one before and of its own. An empty repository starts with that root.
  static base::Result<Repository> Open(const ServerFolder& server, std::wstring tufFolder,
                                       const KeyRing& keys, std::int64_t now);

  // A release: its targets, then new targets, snapshot and timestamp metadata.
  base::Result<RepositoryChange> Release(const ReleaseTargets& release, const Expiry& expiry) const;
  // New snapshot and timestamp metadata for the current targets metadata, nothing else.
  base::Result<RepositoryChange> Refresh(const Expiry& expiry) const;
  // The next root, in which each role that `newKeys` holds keys for (by file name) has
  // those keys instead of its old ones, signed by enough root keys of the current root and
  // of the new one; then targets, snapshot and timestamp signed anew under it. A role's
  // threshold stays unless `thresholds` gives one.
  base::Result<RepositoryChange> Rotate(const KeyRing& newKeys, const std::map<Role, int>& thresholds,
                                        const Expiry& expiry) const;

  const RootFile& root() const { return root_; }  // the newest root
  // Whether launchers that trust `trusted` (the root built into them) can follow this
  // repository's chain: `trusted` is one of its roots.
  bool Chains(const update::tuf::Root& trusted) const;

 private:
  // A document on the server: as JSON, and what the launcher's reader makes of it.
  template <typename Typed>
  struct Stored {
    nlohmann::json json;
    Typed typed;
  };

  Repository(const ServerFolder& server, std::wstring tufFolder, const KeyRing& keys, std::int64_t now)
      : server_(&server), tuf_(std::move(tufFolder)), keys_(&keys), now_(now) {}

  base::Status Load();
  base::Status CheckRoots();
  // The keys of the rings that `root` lists for the role: at least its threshold.
  base::Result<std::vector<const SigningKey*>> Signers(const update::tuf::Root& root, Role role,
                                                       const std::vector<const KeyRing*>& rings) const;
  // `signedPart` signed by the role's keys.
  base::Result<nlohmann::json> SignAs(const update::tuf::Root& root, Role role,
                                      const std::vector<const KeyRing*>& rings,
                                      const nlohmann::json& signedPart) const;
  // New targets metadata with these targets; then snapshot and timestamp naming it.
  base::Status AddTargets(const update::tuf::Root& root, const std::vector<const KeyRing*>& rings,
                          const nlohmann::json& targets, const Expiry& expiry,
                          RepositoryChange* change) const;
  // New snapshot metadata naming the targets metadata `targetsMeta` ({"version", "length",
  // "hashes"}), and a timestamp naming that.
  base::Status AddSnapshotAndTimestamp(const update::tuf::Root& root,
                                       const std::vector<const KeyRing*>& rings,
                                       const nlohmann::json& targetsMeta, const Expiry& expiry,
                                       RepositoryChange* change) const;
  // Old snapshot and targets metadata that expired (no launcher takes it any more).
  void Prune(RepositoryChange* change) const;
  void WarnOfExpiry(std::int64_t expires, Role role, std::int64_t margin,
                    std::vector<std::wstring>* warnings) const;
  std::int64_t Expires(const Expiry& expiry, Role role) const;

  const ServerFolder* server_;
  std::wstring tuf_;
  const KeyRing* keys_;
  std::int64_t now_;

  std::map<std::int64_t, RootFile> roots_;  // on the server, by version
  bool rootIsNew_ = false;                  // an empty repository: root_ is to be written
  RootFile root_;                           // the newest root
  std::vector<std::int64_t> targetsVersions_, snapshotVersions_;  // of the files present
  // The release that timestamp.json names, as far as its files are there.
  std::optional<Stored<update::tuf::Timestamp>> timestamp_;
  std::optional<Stored<update::tuf::Snapshot>> snapshot_;
  std::optional<Stored<update::tuf::Targets>> targets_;
};

// The metadata folder of an application folder ("app/" -> "app/tuf/").
std::wstring TufFolderOf(const std::wstring& appFolder);

}  // namespace publish
