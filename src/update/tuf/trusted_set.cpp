#include "update/tuf/trusted_set.h"

#include "base/der_pem.h"
#include "base/text.h"
#include "platform/crypto.h"

namespace update::tuf {

namespace {

base::Failure Refused(std::wstring reason) {
  return base::MakeFailure(base::Failure::Kind::kRefused, std::move(reason));
}

std::wstring Num(std::int64_t n) { return std::to_wstring(n); }

bool SameRole(const Root& a, const Root& b, Role role) {
  const RoleKeys& x = a.roles.at(role);
  const RoleKeys& y = b.roles.at(role);
  if (x.threshold != y.threshold || x.keyIds.size() != y.keyIds.size()) return false;
  for (const std::string& id : x.keyIds) {
    bool found = false;
    for (const std::string& other : y.keyIds) found = found || other == id;
    if (!found) return false;
  }
  return true;
}

}  // namespace

base::Status CheckMetaFile(const MetaFile& meta, std::string_view bytes, const std::wstring& name) {
  if (meta.length >= 0 && static_cast<std::int64_t>(bytes.size()) != meta.length)
    return Refused(name + L" has " + Num(static_cast<std::int64_t>(bytes.size())) + L" bytes, " + Num(meta.length) +
                   L" signed");
  if (meta.sha256) {
    platform::Sha256Digest digest = platform::Sha256::Of(bytes.data(), bytes.size());
    if (base::HexLower(digest.data(), digest.size()) != *meta.sha256)
      return Refused(name + L" does not have the signed sha256");
  }
  return {};
}

base::Result<TrustedSet> TrustedSet::Start(std::string_view rootBytes, std::int64_t now) {
  base::Result<Root> root = ParseRoot(rootBytes);
  if (!root) return root.TakeFailure();
  if (base::Status signedBy = CheckSignatures(*root, Role::kRoot, root->doc); !signedBy) return signedBy.TakeFailure();
  return TrustedSet(std::move(*root), now);
}

base::Status TrustedSet::UpdateRoot(std::string_view bytes) {
  base::Result<Root> next = ParseRoot(bytes);
  if (!next) return next.TakeFailure();
  // Signed by the keys trusted so far, and by its own: the chain of trust goes on only
  // where both the old and the new root keys agree.
  if (base::Status byOld = CheckSignatures(root_, Role::kRoot, next->doc); !byOld) return byOld.TakeFailure();
  if (base::Status byNew = CheckSignatures(*next, Role::kRoot, next->doc); !byNew) return byNew.TakeFailure();
  if (next->doc.version != root_.doc.version + 1)
    return Refused(L"root metadata version " + Num(next->doc.version) + L" where " + Num(root_.doc.version + 1) +
                   L" was asked for");
  root_ = std::move(*next);
  return {};
}

bool TrustedSet::RolesRotatedSince(const Root& since) const {
  return !SameRole(since, root_, Role::kTimestamp) || !SameRole(since, root_, Role::kSnapshot);
}

base::Result<bool> TrustedSet::UpdateTimestamp(std::string_view bytes) {
  base::Result<Timestamp> next = ParseTimestamp(bytes);
  if (!next) return next.TakeFailure();
  if (base::Status ok = CheckSignatures(root_, Role::kTimestamp, next->doc); !ok) return ok.TakeFailure();
  if (timestamp_) {
    if (next->doc.version < timestamp_->doc.version)
      return Refused(L"timestamp metadata version " + Num(next->doc.version) + L" is lower than the trusted " +
                     Num(timestamp_->doc.version));
    if (next->doc.version == timestamp_->doc.version) return false;
    if (next->snapshot.version < timestamp_->snapshot.version)
      return Refused(L"timestamp names snapshot version " + Num(next->snapshot.version) +
                     L", lower than the trusted " + Num(timestamp_->snapshot.version));
  }
  // A snapshot kept from before names targets that this timestamp may no longer vouch for;
  // it stays only to bar rollbacks (UpdateSnapshot) until the new one arrives.
  timestamp_ = std::move(*next);
  return true;
}

base::Status TrustedSet::LoadTimestamp(std::string_view bytes) {
  base::Result<Timestamp> loaded = ParseTimestamp(bytes);
  if (!loaded) return loaded.TakeFailure();
  if (base::Status ok = CheckSignatures(root_, Role::kTimestamp, loaded->doc); !ok) return ok.TakeFailure();
  timestamp_ = std::move(*loaded);
  return {};
}

base::Result<Snapshot> TrustedSet::VerifiedSnapshot(std::string_view bytes) const {
  base::Result<Snapshot> snapshot = ParseSnapshot(bytes);
  if (!snapshot) return snapshot.TakeFailure();
  if (base::Status ok = CheckSignatures(root_, Role::kSnapshot, snapshot->doc); !ok) return ok.TakeFailure();
  return snapshot;
}

base::Status TrustedSet::UpdateSnapshot(std::string_view bytes) {
  if (!timestamp_) return Refused(L"snapshot metadata without a trusted timestamp");
  if (base::Status ok = CheckMetaFile(timestamp_->snapshot, bytes, L"snapshot metadata"); !ok) return ok;
  base::Result<Snapshot> next = VerifiedSnapshot(bytes);
  if (!next) return next.TakeFailure();
  if (next->doc.version != timestamp_->snapshot.version)
    return Refused(L"snapshot metadata version " + Num(next->doc.version) + L", the timestamp names " +
                   Num(timestamp_->snapshot.version));
  if (snapshot_) {
    for (const auto& [name, file] : snapshot_->meta) {
      auto now = next->meta.find(name);
      if (now == next->meta.end()) return Refused(L"snapshot metadata no longer lists " + base::Utf8ToWide(name));
      if (now->second.version < file.version)
        return Refused(L"snapshot names " + base::Utf8ToWide(name) + L" version " + Num(now->second.version) +
                       L", lower than the trusted " + Num(file.version));
    }
  }
  snapshot_ = std::move(*next);
  // The targets file trusted so far stays for rollback checks of the next one only.
  return {};
}

base::Status TrustedSet::LoadSnapshot(std::string_view bytes) {
  if (!timestamp_) return Refused(L"snapshot metadata without a trusted timestamp");
  base::Result<Snapshot> loaded = VerifiedSnapshot(bytes);
  if (!loaded) return loaded.TakeFailure();
  snapshot_ = std::move(*loaded);
  return {};
}

bool TrustedSet::SnapshotIsCurrent() const {
  return timestamp_ && snapshot_ && snapshot_->doc.version == timestamp_->snapshot.version;
}

base::Result<Targets> TrustedSet::VerifiedTargets(std::string_view bytes) const {
  base::Result<Targets> targets = ParseTargets(bytes);
  if (!targets) return targets.TakeFailure();
  if (base::Status ok = CheckSignatures(root_, Role::kTargets, targets->doc); !ok) return ok.TakeFailure();
  return targets;
}

base::Status TrustedSet::UpdateTargets(std::string_view bytes) {
  if (!snapshot_) return Refused(L"targets metadata without a trusted snapshot");
  const MetaFile& meta = snapshot_->meta.at("targets.json");
  if (base::Status ok = CheckMetaFile(meta, bytes, L"targets metadata"); !ok) return ok;
  base::Result<Targets> next = VerifiedTargets(bytes);
  if (!next) return next.TakeFailure();
  if (next->doc.version != meta.version)
    return Refused(L"targets metadata version " + Num(next->doc.version) + L", the snapshot names " +
                   Num(meta.version));
  targets_ = std::move(*next);
  return {};
}

base::Status TrustedSet::LoadTargets(std::string_view bytes) {
  if (!snapshot_) return Refused(L"targets metadata without a trusted snapshot");
  base::Result<Targets> loaded = VerifiedTargets(bytes);
  if (!loaded) return loaded.TakeFailure();
  targets_ = std::move(*loaded);
  return {};
}

bool TrustedSet::TargetsAreCurrent() const {
  return snapshot_ && targets_ && targets_->doc.version == snapshot_->meta.at("targets.json").version;
}

base::Status TrustedSet::CheckExpiry(Role role) const {
  const Document* doc = nullptr;
  switch (role) {
    case Role::kRoot: doc = &root_.doc; break;
    case Role::kTimestamp: doc = timestamp_ ? &timestamp_->doc : nullptr; break;
    case Role::kSnapshot: doc = snapshot_ ? &snapshot_->doc : nullptr; break;
    case Role::kTargets: doc = targets_ ? &targets_->doc : nullptr; break;
  }
  if (!doc) return Refused(L"no trusted " + RoleWideName(role) + L" metadata");
  // Timely while the clock is before the expiry (TUF's "lower than").
  if (now_ < doc->expires) return {};
  return Refused(L"update metadata expired: " + RoleWideName(role) + L", expired " + TimeText(doc->expires) +
                 L", clock " + TimeText(now_));
}

}  // namespace update::tuf
