#include "tuf_repository.h"

#include <algorithm>
#include <set>

#include "base/der_pem.h"
#include "base/text.h"
#include "platform/crypto.h"
#include "platform/platform.h"
#include "tuf_metadata.h"

namespace publish {

namespace {

using nlohmann::json;
namespace tuf = update::tuf;

constexpr std::int64_t kDay = 86400;
// How long before it runs out an expiry is worth a warning: the root and the targets
// metadata are signed with keys kept offline, which takes the vendor a while to fetch.
constexpr std::int64_t kRootMargin = 30 * kDay;
constexpr std::int64_t kTargetsMargin = 14 * kDay;

base::Failure Failed(base::Failure::Kind kind, std::wstring reason) {
  return base::MakeFailure(kind, std::move(reason));
}

std::wstring Wide(const std::string& text) { return base::Utf8ToWide(text); }

// The version of "<n>.<kind>.json" (n a decimal from 1, no leading zeros), or 0.
std::int64_t VersionOfName(const std::wstring& name, const std::wstring& kind) {
  const std::wstring tail = L"." + kind + L".json";
  if (name.size() <= tail.size() || name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
    return 0;
  const std::wstring digits = name.substr(0, name.size() - tail.size());
  if (digits.size() > 15 || digits[0] < L'1' || digits[0] > L'9') return 0;
  std::int64_t version = 0;
  for (wchar_t c : digits) {
    if (c < L'0' || c > L'9') return 0;
    version = version * 10 + (c - L'0');
  }
  return version;
}

std::wstring VersionedName(std::int64_t version, Role role) {
  return std::to_wstring(version) + L"." + tuf::RoleWideName(role) + L".json";
}

json FileInfo(const std::string& bytes) {
  const platform::Sha256Digest digest = platform::Sha256::Of(bytes.data(), bytes.size());
  return {{"length", bytes.size()}, {"hashes", {{"sha256", base::HexLower(digest.data(), digest.size())}}}};
}

// Where a target's bytes are served with consistent snapshots: "<sha256>.<name>" in the
// folder of its path.
std::wstring TargetFileName(const std::wstring& targetPath, const std::string& sha256) {
  const std::size_t slash = targetPath.rfind(L'/');
  const std::wstring folder = slash == std::wstring::npos ? L"" : targetPath.substr(0, slash + 1);
  const std::wstring name = slash == std::wstring::npos ? targetPath : targetPath.substr(slash + 1);
  return folder + Wide(sha256) + L"." + name;
}

std::int64_t NextVersion(const std::vector<std::int64_t>& present) {
  return present.empty() ? 1 : *std::max_element(present.begin(), present.end()) + 1;
}

// The document of bytes that the launcher's reader took as `typed`.
json JsonOf(const std::string& bytes) { return json::parse(bytes); }

}  // namespace

int Expiry::DaysOf(Role role) const {
  auto found = days.find(role);
  if (found != days.end()) return found->second;
  switch (role) {
    case Role::kRoot: return kDefaultRoot;
    case Role::kTargets: return kDefaultTargets;
    case Role::kSnapshot: return kDefaultSnapshot;
    case Role::kTimestamp: return kDefaultTimestamp;
  }
  return 1;
}

std::wstring TufFolderOf(const std::wstring& appFolder) { return appFolder + L"tuf/"; }

base::Result<Repository> Repository::Open(const ServerFolder& server, std::wstring tufFolder,
                                          const KeyRing& keys, std::int64_t now) {
  Repository repository(server, std::move(tufFolder), keys, now);
  if (auto loaded = repository.Load(); !loaded) return loaded.TakeFailure();
  if (auto checked = repository.CheckRoots(); !checked) return checked.TakeFailure();
  return repository;
}

base::Status Repository::Load() {
  // A file the launcher's reader refuses stops the run: versions are counted from what is
  // there, and a launcher that took a higher one refuses lower ones for ever.
  auto read = [&](const std::wstring& name) -> base::Result<std::optional<std::string>> {
    return server_->Read(tuf_ + name);
  };
  auto refused = [&](const std::wstring& name, const base::Failure& failure) {
    return Failed(base::Failure::Kind::kInvalid,
                  tuf_ + name + L": " + failure.reason + L" (repair or remove the file)");
  };

  for (const std::wstring& name : server_->FileNames(tuf_)) {
    if (std::int64_t v = VersionOfName(name, L"targets")) targetsVersions_.push_back(v);
    if (std::int64_t v = VersionOfName(name, L"snapshot")) snapshotVersions_.push_back(v);
    if (std::int64_t v = VersionOfName(name, L"root")) {
      auto bytes = read(name);
      if (!bytes) return bytes.TakeFailure();
      if (!*bytes) continue;
      auto root = ReadRoot(tuf_ + name, **bytes);
      if (!root) return root.TakeFailure();
      if (root->root.doc.version != v)
        return Failed(base::Failure::Kind::kInvalid,
                      tuf_ + name + L": holds root version " + std::to_wstring(root->root.doc.version));
      roots_.emplace(v, std::move(*root));
    }
  }

  auto timestampBytes = read(L"timestamp.json");
  if (!timestampBytes) return timestampBytes.TakeFailure();
  if (!*timestampBytes) return {};
  auto timestamp = tuf::ParseTimestamp(**timestampBytes);
  if (!timestamp) return refused(L"timestamp.json", timestamp.failure());
  timestamp_ = {JsonOf(**timestampBytes), std::move(*timestamp)};

  const std::wstring snapshotName = VersionedName(timestamp_->typed.snapshot.version, Role::kSnapshot);
  auto snapshotBytes = read(snapshotName);
  if (!snapshotBytes) return snapshotBytes.TakeFailure();
  if (!*snapshotBytes) return {};
  auto snapshot = tuf::ParseSnapshot(**snapshotBytes);
  if (!snapshot) return refused(snapshotName, snapshot.failure());
  snapshot_ = {JsonOf(**snapshotBytes), std::move(*snapshot)};

  auto targetsMeta = snapshot_->typed.meta.find("targets.json");
  if (targetsMeta == snapshot_->typed.meta.end()) return {};
  const std::wstring targetsName = VersionedName(targetsMeta->second.version, Role::kTargets);
  auto targetsBytes = read(targetsName);
  if (!targetsBytes) return targetsBytes.TakeFailure();
  if (!*targetsBytes) return {};
  auto targets = tuf::ParseTargets(**targetsBytes);
  if (!targets) return refused(targetsName, targets.failure());
  targets_ = {JsonOf(**targetsBytes), std::move(*targets)};
  return {};
}

base::Status Repository::CheckRoots() {
  if (keys_->roots.empty())
    return Failed(base::Failure::Kind::kInvalid,
                  L"none of the key folders holds a root.json: put the root.json that launchers "
                  L"are built with (or the newest " + tuf_ + L"N.root.json) beside the keys");
  // The newest root of the key folders anchors the chain, as the root built into launchers
  // does; each of them must be the root of its version here, or the folders belong to
  // another repository.
  const RootFile* anchor = nullptr;
  for (const RootFile& root : keys_->roots)
    if (anchor == nullptr || root.root.doc.version > anchor->root.doc.version) anchor = &root;
  if (auto signedBy = tuf::CheckSignatures(anchor->root, Role::kRoot, anchor->root.doc); !signedBy)
    return Failed(base::Failure::Kind::kRefused, anchor->path + L": " + signedBy.failure().reason);

  if (roots_.empty()) {
    root_ = *anchor;
    rootIsNew_ = true;
    return {};
  }
  for (const RootFile& root : keys_->roots) {
    const std::int64_t v = root.root.doc.version;
    auto found = roots_.find(v);
    if (found == roots_.end())
      return Failed(base::Failure::Kind::kRefused,
                    tuf_ + VersionedName(v, Role::kRoot) + L" is missing, but " + root.path +
                        L" is that root: the server's roots are behind the key folders "
                        L"(restore the missing roots from a backup)");
    if (found->second.root.doc.canonicalSigned != root.root.doc.canonicalSigned)
      return Failed(base::Failure::Kind::kRefused,
                    root.path + L" is not the root version " + std::to_wstring(v) + L" in " + tuf_ +
                        L": these keys belong to another repository");
  }
  const std::int64_t newest = roots_.rbegin()->first;
  for (std::int64_t v = anchor->root.doc.version + 1; v <= newest; ++v) {
    auto found = roots_.find(v);
    if (found == roots_.end())
      return Failed(base::Failure::Kind::kRefused,
                    tuf_ + VersionedName(v, Role::kRoot) + L" is missing: the chain of roots has a gap");
    const tuf::Root& next = found->second.root;
    base::Status byPrevious = tuf::CheckSignatures(roots_.at(v - 1).root, Role::kRoot, next.doc);
    base::Status byItself = tuf::CheckSignatures(next, Role::kRoot, next.doc);
    if (!byPrevious || !byItself)
      return Failed(base::Failure::Kind::kRefused,
                    tuf_ + VersionedName(v, Role::kRoot) + L" does not follow from version " +
                        std::to_wstring(v - 1) + L" (" +
                        (byPrevious ? byItself : byPrevious).failure().reason + L"): someone else wrote it");
  }
  root_ = roots_.rbegin()->second;
  return {};
}

bool Repository::Chains(const tuf::Root& trusted) const {
  if (rootIsNew_ || roots_.empty()) return root_.root.doc.canonicalSigned == trusted.doc.canonicalSigned;
  auto found = roots_.find(trusted.doc.version);
  return found != roots_.end() && found->second.root.doc.canonicalSigned == trusted.doc.canonicalSigned;
}

std::int64_t Repository::Expires(const Expiry& expiry, Role role) const {
  return now_ + std::int64_t{expiry.DaysOf(role)} * kDay;
}

base::Result<std::vector<const SigningKey*>> Repository::Signers(
    const tuf::Root& root, Role role, const std::vector<const KeyRing*>& rings) const {
  std::vector<const SigningKey*> signers;
  const tuf::RoleKeys& listed = root.roles.at(role);
  for (const std::string& id : listed.keyIds) {
    for (const KeyRing* ring : rings) {
      if (const SigningKey* key = ring->Find(id)) {
        signers.push_back(key);
        break;
      }
    }
  }
  if (static_cast<int>(signers.size()) < listed.threshold) {
    std::wstring ids;
    for (const std::string& id : listed.keyIds) ids += L" " + Wide(id.substr(0, 12)) + L"...";
    return Failed(base::Failure::Kind::kRefused,
                  L"the " + tuf::RoleWideName(role) + L" metadata needs " + std::to_wstring(listed.threshold) +
                      L" of the keys that root version " + std::to_wstring(root.doc.version) +
                      L" lists for it (ids" + ids + L"); the key folders hold " +
                      std::to_wstring(signers.size()) + L": give the folder of " + tuf::RoleWideName(role) +
                      L".pem with --keys");
  }
  return signers;
}

base::Result<json> Repository::SignAs(const tuf::Root& root, Role role, const std::vector<const KeyRing*>& rings,
                                      const json& signedPart) const {
  auto signers = Signers(root, role, rings);
  if (!signers) return signers.TakeFailure();
  return SignMetadata(signedPart, *signers);
}

base::Status Repository::AddTargets(const tuf::Root& root, const std::vector<const KeyRing*>& rings,
                                    const json& targets, const Expiry& expiry,
                                    RepositoryChange* change) const {
  const std::int64_t version = NextVersion(targetsVersions_);
  auto document = SignAs(root, Role::kTargets, rings,
                         {{"_type", "targets"},
                          {"expires", ExpiresText(Expires(expiry, Role::kTargets))},
                          {"spec_version", kTufVersion},
                          {"targets", targets},
                          {"version", version}});
  if (!document) return document.TakeFailure();
  const std::string bytes = MetadataFileBytes(*document);
  json meta = FileInfo(bytes);
  meta["version"] = version;
  // The snapshot and timestamp are signed before the targets file is added: a missing
  // online key leaves nothing half done.
  RepositoryChange rest;
  if (auto added = AddSnapshotAndTimestamp(root, rings, meta, expiry, &rest); !added) return added;
  change->files.emplace_back(tuf_ + VersionedName(version, Role::kTargets), bytes);
  change->files.insert(change->files.end(), rest.files.begin(), rest.files.end());
  Prune(change);
  return {};
}

base::Status Repository::AddSnapshotAndTimestamp(const tuf::Root& root, const std::vector<const KeyRing*>& rings,
                                                 const json& targetsMeta, const Expiry& expiry,
                                                 RepositoryChange* change) const {
  const std::int64_t snapshotVersion = NextVersion(snapshotVersions_);
  auto snapshot = SignAs(root, Role::kSnapshot, rings,
                         {{"_type", "snapshot"},
                          {"expires", ExpiresText(Expires(expiry, Role::kSnapshot))},
                          {"meta", {{"targets.json", targetsMeta}}},
                          {"spec_version", kTufVersion},
                          {"version", snapshotVersion}});
  if (!snapshot) return snapshot.TakeFailure();
  const std::string snapshotBytes = MetadataFileBytes(*snapshot);
  json snapshotMeta = FileInfo(snapshotBytes);
  snapshotMeta["version"] = snapshotVersion;
  auto timestamp = SignAs(root, Role::kTimestamp, rings,
                          {{"_type", "timestamp"},
                           {"expires", ExpiresText(Expires(expiry, Role::kTimestamp))},
                           {"meta", {{"snapshot.json", snapshotMeta}}},
                           {"spec_version", kTufVersion},
                           {"version", timestamp_ ? timestamp_->typed.doc.version + 1 : 1}});
  if (!timestamp) return timestamp.TakeFailure();
  change->files.emplace_back(tuf_ + VersionedName(snapshotVersion, Role::kSnapshot), snapshotBytes);
  change->files.emplace_back(tuf_ + L"timestamp.json", MetadataFileBytes(*timestamp));
  return {};
}

void Repository::Prune(RepositoryChange* change) const {
  // What this change writes stays, and so does each kind's newest file.
  std::set<std::wstring> keep;
  for (const auto& [path, bytes] : change->files) keep.insert(path);
  auto prune = [&](const std::vector<std::int64_t>& versions, Role role, auto parse) {
    if (versions.empty()) return;
    const std::int64_t newest = *std::max_element(versions.begin(), versions.end());
    for (std::int64_t v : versions) {
      const std::wstring path = tuf_ + VersionedName(v, role);
      if (v == newest || keep.count(path)) continue;
      auto bytes = server_->Read(path);
      if (!bytes || !*bytes) continue;
      auto document = parse(**bytes);
      // A file the reader refuses is left alone: it is not the tool's to judge.
      if (document && document->doc.expires < now_) change->removals.push_back(path);
    }
  };
  prune(snapshotVersions_, Role::kSnapshot, [](const std::string& b) { return tuf::ParseSnapshot(b); });
  prune(targetsVersions_, Role::kTargets, [](const std::string& b) { return tuf::ParseTargets(b); });
}

void Repository::WarnOfExpiry(std::int64_t expires, Role role, std::int64_t margin,
                              std::vector<std::wstring>* warnings) const {
  const std::wstring when = tuf::TimeText(expires);
  const std::wstring remedy =
      role == Role::kRoot
          ? L"sign a new root with the root keys: publish --rotate-keys DIR --keys DIR ... (the same "
            L"folder twice keeps the keys)"
          : L"publish a release (again) with the targets key";
  if (expires <= now_)
    warnings->push_back(L"the " + tuf::RoleWideName(role) + L" metadata expired at " + when +
                        L": launchers install no update until you " + remedy);
  else if (expires - now_ < margin)
    warnings->push_back(L"the " + tuf::RoleWideName(role) + L" metadata expires at " + when + L", in " +
                        std::to_wstring((expires - now_) / kDay) + L" days: before then, " + remedy);
}

base::Result<RepositoryChange> Repository::Release(const ReleaseTargets& release, const Expiry& expiry) const {
  RepositoryChange change;
  json targets = json::object();
  auto add = [&](const std::wstring& path, const std::string& bytes, std::optional<int> classPathIndex) {
    json info = FileInfo(bytes);
    if (classPathIndex) info["custom"] = {{"class_path_index", *classPathIndex}};
    change.files.emplace_back(tuf_ + L"targets/" + TargetFileName(path, info["hashes"]["sha256"].get<std::string>()),
                              bytes);
    targets[base::WideToUtf8(path)] = std::move(info);
  };
  for (std::size_t i = 0; i < release.libraries.size(); ++i)
    add(L"libs/" + release.libraries[i].first, release.libraries[i].second, static_cast<int>(i));
  add(release.jarName, release.package, std::nullopt);
  if (rootIsNew_)
    change.files.emplace_back(tuf_ + VersionedName(root_.root.doc.version, Role::kRoot),
                              MetadataFileBytes(root_.document));

  if (auto added = AddTargets(root_.root, {keys_}, targets, expiry, &change); !added) return added.TakeFailure();
  WarnOfExpiry(root_.root.doc.expires, Role::kRoot, kRootMargin, &change.warnings);
  return change;
}

base::Result<RepositoryChange> Repository::Refresh(const Expiry& expiry) const {
  if (!timestamp_ || !snapshot_ || !targets_)
    return Failed(base::Failure::Kind::kInvalid,
                  tuf_ + L" holds no published release (timestamp.json, the snapshot it names and "
                         L"the targets metadata that names): publish one first");
  // Only targets metadata that launchers would take is pointed at again.
  if (auto signedBy = tuf::CheckSignatures(root_.root, Role::kTargets, targets_->typed.doc); !signedBy)
    return Failed(base::Failure::Kind::kRefused,
                  tuf_ + VersionedName(targets_->typed.doc.version, Role::kTargets) + L": " +
                      signedBy.failure().reason +
                      L" of the current root: publish a release with the targets key");
  RepositoryChange change;
  const json targetsMeta = snapshot_->json["signed"]["meta"]["targets.json"];
  if (auto added = AddSnapshotAndTimestamp(root_.root, {keys_}, targetsMeta, expiry, &change); !added)
    return added.TakeFailure();
  Prune(&change);
  WarnOfExpiry(targets_->typed.doc.expires, Role::kTargets, kTargetsMargin, &change.warnings);
  WarnOfExpiry(root_.root.doc.expires, Role::kRoot, kRootMargin, &change.warnings);
  return change;
}

base::Result<RepositoryChange> Repository::Rotate(const KeyRing& newKeys, const std::map<Role, int>& thresholds,
                                                  const Expiry& expiry) const {
  const json& currentKeys = root_.document["signed"]["keys"];
  std::map<Role, std::vector<json>> roleKeys;
  std::map<Role, int> newThresholds;
  for (Role role : kRoles) {
    for (const SigningKey& key : newKeys.keys)
      if (key.role == role) roleKeys[role].push_back(key.keyObject);
    if (roleKeys[role].empty())
      for (const std::string& id : root_.root.roles.at(role).keyIds)
        if (auto keyObject = currentKeys.find(id); keyObject != currentKeys.end())
          roleKeys[role].push_back(*keyObject);
    auto given = thresholds.find(role);
    newThresholds[role] = given != thresholds.end() ? given->second : root_.root.roles.at(role).threshold;
    if (newThresholds[role] > static_cast<int>(roleKeys[role].size()))
      return Failed(base::Failure::Kind::kInvalid,
                    L"the " + tuf::RoleWideName(role) + L" role would have " +
                        std::to_wstring(roleKeys[role].size()) + L" keys and a threshold of " +
                        std::to_wstring(newThresholds[role]) + L": give --threshold " + tuf::RoleWideName(role) +
                        L"=N or more keys");
  }
  const std::int64_t version = root_.root.doc.version + 1;
  const json nextSigned = RootSigned(version, Expires(expiry, Role::kRoot), roleKeys, newThresholds);
  auto nextRoot = ReadRoot(L"the new root", MetadataFileBytes({{"signatures", json::array()}, {"signed", nextSigned}}));
  if (!nextRoot) return nextRoot.TakeFailure();

  // Launchers that trust the current root take the next one only with enough signatures of
  // the current root keys and of the new ones.
  const std::vector<const KeyRing*> rings = {keys_, &newKeys};
  auto oldSigners = Signers(root_.root, Role::kRoot, {keys_});
  if (!oldSigners) return oldSigners.TakeFailure();
  auto newSigners = Signers(nextRoot->root, Role::kRoot, rings);
  if (!newSigners) return newSigners.TakeFailure();
  std::vector<const SigningKey*> signers = *oldSigners;
  signers.insert(signers.end(), newSigners->begin(), newSigners->end());
  auto next = SignMetadata(nextSigned, signers);
  if (!next) return next.TakeFailure();

  RepositoryChange change;
  if (rootIsNew_)
    change.files.emplace_back(tuf_ + VersionedName(root_.root.doc.version, Role::kRoot),
                              MetadataFileBytes(root_.document));
  change.files.emplace_back(tuf_ + VersionedName(version, Role::kRoot), MetadataFileBytes(*next));
  change.newRoot = *next;
  // The release stays what it was, signed anew by the keys the new root lists.
  if (targets_) {
    const json targets = targets_->json["signed"]["targets"];
    if (auto added = AddTargets(nextRoot->root, rings, targets, expiry, &change); !added)
      return added.TakeFailure();
  }
  return change;
}

}  // namespace publish
