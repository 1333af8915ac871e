// The vendor's signing keys for the signed channel: the four roles of the update metadata,
// the key folders that hold their private keys, and the first root made from a new set.
//
// A key folder holds PKCS#8 PEM files named after their role: root.pem, targets.pem,
// snapshot.pem, timestamp.pem, and root-2.pem, root-3.pem ... when a role has several keys.
// It may hold some roles only (the online folder on the publishing server: snapshot and
// timestamp; the offline one: root and targets), and a root.json: the root that launchers
// are built with, from which the tool checks the chain of roots on the server.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/result.h"
#include "platform/crypto.h"
#include "platform/signing.h"
#include "update/tuf/metadata.h"

namespace publish {

using Role = update::tuf::Role;
using update::tuf::RoleName;  // also the stem of the role's key files
// In the order the tool makes and lists them: the offline roles first.
inline constexpr std::array<Role, 4> kRoles = {Role::kRoot, Role::kTargets, Role::kSnapshot,
                                              Role::kTimestamp};

// The role named "root", "targets", "snapshot" or "timestamp".
std::optional<Role> RoleFromName(const std::string& name);

// The role whose key a file name denotes ("timestamp.pem", "root-2.pem"), or nothing.
std::optional<Role> RoleOfKeyFile(const std::wstring& fileName);
// The file name of a role's n-th key (1: "root.pem", 2: "root-2.pem").
std::wstring KeyFileName(Role role, int n);

// One private key of a key folder.
struct SigningKey {
  Role role = Role::kRoot;  // after its file name; what it signs is decided by its id
  std::wstring path;
  platform::P256PrivateKey key;
  nlohmann::json keyObject;  // as a root lists it
  std::string keyId;
};

// A root as the tool reads it: the document, and what the launcher's reader makes of it.
struct RootFile {
  std::wstring path;
  nlohmann::json document;
  update::tuf::Root root;
};
// A root's bytes read as both; kInvalid, naming `path`, for anything that is not a root.
base::Result<RootFile> ReadRoot(const std::wstring& path, const std::string& bytes);

struct KeyRing {
  std::vector<SigningKey> keys;
  std::vector<RootFile> roots;  // each root.json found in the folders

  const SigningKey* Find(const std::string& keyId) const;
};

// Reads every key file and root.json of the folders. A key file that cannot be read fails
// the whole (nothing is published with a key set that is not what the vendor meant).
base::Result<KeyRing> LoadKeyFolders(const std::vector<std::wstring>& folders);

// How many keys each role gets and how many of them must sign.
struct KeyPlan {
  std::map<Role, int> count;      // default 1, or the threshold when that is larger
  std::map<Role, int> threshold;  // default 1
  int KeysOf(Role role) const;
  int ThresholdOf(Role role) const;
};

struct NewKeysResult {
  std::vector<std::wstring> written;  // key files, then root.json
  std::wstring rootPath;              // empty when only some roles were made
};

// Writes new keys of `roles` (all four when empty) into `folder` (made when missing, for
// its owner only), none of whose files may exist yet: an existing key file may be the only
// copy of a key that launchers trust. With all four roles it also writes root.json:
// version 1, listing every key, signed by the root keys, expiring `rootDays` after `now`.
base::Result<NewKeysResult> CreateKeys(const std::wstring& folder, const std::vector<Role>& roles,
                                       const KeyPlan& plan, int rootDays, std::int64_t now);

}  // namespace publish
