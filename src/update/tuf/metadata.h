// The four top-level kinds of TUF metadata as the launcher reads them, and the check of a
// document's signatures against the keys and threshold a root gives its role.
//
// A document is {"signatures": [{"keyid": ..., "sig": ...}, ...], "signed": {...}}; the
// signatures are over the canonical JSON of "signed" (key.h). Parsing checks the shape
// only: "_type", "spec_version" 1.x, a "version" >= 1, "expires" as YYYY-MM-DDTHH:MM:SSZ,
// and what each kind lists. Whether to trust a document is the trusted set's to say.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/result.h"
#include "platform/crypto.h"

namespace update::tuf {

enum class Role { kRoot, kTimestamp, kSnapshot, kTargets };

// "root", "timestamp", "snapshot", "targets": the "_type" and the file names.
const char* RoleName(Role role);
std::wstring RoleWideName(Role role);

// Seconds since 1970-01-01 UTC of a TUF time ("2030-01-31T12:00:00Z"), and back.
std::optional<std::int64_t> ParseTime(std::string_view text);
std::wstring TimeText(std::int64_t seconds);

// What is common to every document.
struct Document {
  Role role = Role::kRoot;
  std::int64_t version = 0;
  std::int64_t expires = 0;
  std::string canonicalSigned;  // the bytes the signatures are over
  struct Signature {
    std::string keyId;
    std::string sig;
  };
  std::vector<Signature> signatures;
};

// The keys and threshold a root gives one role.
struct RoleKeys {
  std::vector<std::string> keyIds;
  int threshold = 1;
};

struct Root {
  Document doc;
  // Every key of a supported type and scheme, by id (each id checked to be its key's).
  // Keys of other types are left out: they can sign for nothing here.
  std::map<std::string, platform::P256PublicKey> keys;
  std::map<Role, RoleKeys> roles;  // all four
  bool consistentSnapshot = false;
};

// What a timestamp or snapshot says of another metadata file.
struct MetaFile {
  std::int64_t version = 0;
  std::int64_t length = -1;              // -1: not given
  std::optional<std::string> sha256;     // lowercase hex; not given when absent
};

struct Timestamp {
  Document doc;
  MetaFile snapshot;  // meta["snapshot.json"]
};

struct Snapshot {
  Document doc;
  std::map<std::string, MetaFile> meta;  // "targets.json" and any delegated role's file
};

struct TargetFile {
  std::int64_t length = 0;
  std::string sha256;  // lowercase hex
  nlohmann::json custom;  // null when absent
};

struct Targets {
  Document doc;
  std::map<std::string, TargetFile> targets;  // by target path
};

// Each parse reads the file's bytes (JSON) and refuses, kInvalid with the reason, any
// document that is not of its kind and shape. Targets metadata that delegates to other
// roles is refused too: this client follows no delegation.
base::Result<Root> ParseRoot(std::string_view bytes);
base::Result<Timestamp> ParseTimestamp(std::string_view bytes);
base::Result<Snapshot> ParseSnapshot(std::string_view bytes);
base::Result<Targets> ParseTargets(std::string_view bytes);

// Whether at least the threshold of the keys that `root` lists for `role` signed `doc`:
// each key counted once, however many of its signatures the document holds, and two ids
// of the same public key as one. kRefused with the count found otherwise.
base::Status CheckSignatures(const Root& root, Role role, const Document& doc);

}  // namespace update::tuf
