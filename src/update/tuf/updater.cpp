#include "update/tuf/updater.h"

#include <algorithm>
#include <string_view>

#include "base/retry.h"
#include "base/text.h"
#include "platform/atomic_file.h"
#include "platform/platform.h"
#include "update/fetch_buffer.h"
#include "update/tuf/trusted_set.h"
#include "update/url_path.h"

namespace update::tuf {

namespace {

// The longest validity that publishing gives any metadata (ten years): no metadata can
// have been signed longer than this before its expiry.
constexpr std::int64_t kMaxValiditySeconds = 3650LL * 86400;
// A repository kept up re-signs its timestamp within days; a clock a year past every
// expiry in hand is more likely wrong than the repository abandoned.
constexpr std::int64_t kFarFutureSeconds = 366LL * 86400;

using Problem = RefreshResult::Problem;

std::wstring Num(std::int64_t n) { return std::to_wstring(n); }

std::string_view View(const FetchBuffer& buffer) {
  return {reinterpret_cast<const char*>(buffer.data.get()), buffer.length};
}

class Store {
 public:
  explicit Store(std::wstring folder) : folder_(std::move(folder)) {}

  std::wstring PathOf(const std::wstring& name) const { return platform::JoinPath(folder_, name); }

  std::optional<std::string> Read(const std::wstring& name, std::size_t limit) const {
    std::string bytes;
    if (!platform::ReadWholeFile(PathOf(name), limit, &bytes)) return std::nullopt;
    return bytes;
  }

  // False with the reason in *why when the file could not be kept; the run goes on (the
  // next one fetches what it lacks again).
  bool Write(const std::wstring& name, std::string_view bytes, std::wstring* why) const {
    platform::Error err;
    if (!platform::IsDirectory(folder_) && !platform::MakeDirectories(folder_)) {
      *why = L"cannot make " + folder_;
      return false;
    }
    if (platform::WriteFileAtomically(PathOf(name), bytes.data(), bytes.size(), &err)) return true;
    *why = L"cannot write " + PathOf(name) + L": " + err.message;
    return false;
  }

  void Remove(const std::wstring& name) const { platform::RemoveFile(PathOf(name)); }

 private:
  std::wstring folder_;
};

std::wstring RootName(std::int64_t version) { return Num(version) + L".root.json"; }

class Refresher {
 public:
  Refresher(const std::wstring& metadataUrl, const std::wstring& storeFolder, RefreshResult& result)
      : url_(metadataUrl), store_(storeFolder), result_(result) {}

  void Run(const std::string& builtInRoot, std::int64_t now) {
    base::Result<TrustedSet> started = TrustedSet::Start(builtInRoot, now);
    if (!started) {
      Fail(Problem::kNoTrust, L"update metadata refused: built-in root: " + started.failure().reason);
      return;
    }
    TrustedSet& set = set_.emplace(std::move(*started));

    LoadKeptRoots();
    const Root before = set.root();
    bool rootsOk = UpdateRootsFromServer();
    // Recovery from a fast-forward attack: new timestamp or snapshot keys void what the
    // old ones signed, however high its versions (also when a later root of the chain
    // was refused: the ones before it are trusted now).
    if (set.RolesRotatedSince(before)) {
      store_.Remove(L"timestamp.json");
      store_.Remove(L"snapshot.json");
    }
    result_.consistentSnapshot = set.root().consistentSnapshot;
    LoadKeptMetadata();
    if (set.targets()) result_.lastTrusted = set.targets();
    if (!rootsOk) return;
    if (!Timely(Role::kRoot)) return;
    // Each new file is kept only once it is trusted, timely included: an expired one
    // never becomes what a later run starts from.
    if (!UpdateTimestamp() || !Timely(Role::kTimestamp)) return;
    KeepPending(L"timestamp.json");
    if (!set.SnapshotIsCurrent() && !UpdateSnapshot()) return;
    if (!Timely(Role::kSnapshot)) return;
    KeepPending(L"snapshot.json");
    if (!set.TargetsAreCurrent() && !UpdateTargets()) return;
    if (!Timely(Role::kTargets)) return;
    KeepPending(L"targets.json");
    result_.release = set.targets();
  }

  // The newest expiry in hand, to tell a clock that is far off.
  void NoteClock() {
    if (!set_) return;
    const TrustedSet& set = *set_;
    std::int64_t newest = set.root().doc.expires;
    if (set.timestamp()) newest = std::max(newest, set.timestamp()->doc.expires);
    if (set.snapshot()) newest = std::max(newest, set.snapshot()->doc.expires);
    if (set.targets()) newest = std::max(newest, set.targets()->doc.expires);
    const std::int64_t now = set.now();
    if (now < newest - kMaxValiditySeconds)
      result_.notes.push_back(L"client clock far in the past: " + TimeText(now) +
                              L", before update metadata expiring " + TimeText(newest) + L" can have been signed");
    else if (now > newest + kFarFutureSeconds)
      result_.notes.push_back(L"client clock far in the future: " + TimeText(now) +
                              L", a year past every update metadata expiry (" + TimeText(newest) + L")");
  }

 private:
  void Fail(Problem problem, std::wstring reason) {
    result_.problem = problem;
    result_.reason = std::move(reason);
  }

  bool Refuse(const base::Failure& failure) {
    Fail(Problem::kRefused, L"update metadata refused: " + failure.reason);
    return false;
  }

  bool Timely(Role role) {
    base::Status timely = set_->CheckExpiry(role);
    if (timely) return true;
    Fail(Problem::kExpired, timely.failure().reason);
    return false;
  }

  void Keep(const std::wstring& name, std::string_view bytes) {
    std::wstring why;
    if (!store_.Write(name, bytes, &why)) result_.notes.push_back(L"update metadata not kept: " + why);
  }

  // The file fetched last, once it may be kept (nothing when the trusted one stayed).
  void KeepPending(const std::wstring& name) {
    if (pending_) Keep(name, *pending_);
    pending_.reset();
  }

  // The roots after the built-in one that earlier runs verified and kept. One that no
  // longer verifies (changed on the disk, or the built-in root changed) ends the chain.
  void LoadKeptRoots() {
    for (;;) {
      const std::wstring name = RootName(set_->root().doc.version + 1);
      std::optional<std::string> bytes = store_.Read(name, kMaxRootSize);
      if (!bytes) return;
      if (!set_->UpdateRoot(*bytes)) {
        store_.Remove(name);
        return;
      }
    }
  }

  // Fetches `url` into `buffer` (up to three attempts). *missing: the server answered that
  // it has no such file (404 or 403), which ends at once.
  bool Fetch(FetchBuffer& buffer, const std::wstring& url, std::size_t limit, bool* missing) {
    buffer.maxLength = limit;
    *missing = false;
    base::Retry([&] {
      if (buffer.FetchOnce(url)) return true;
      *missing = buffer.status == 404 || buffer.status == 403;
      return *missing;
    });
    return buffer.data != nullptr && !*missing;
  }

  bool UpdateRootsFromServer() {
    for (int step = 0; step < TrustedSet::kMaxRootSteps; ++step) {
      const std::wstring name = RootName(set_->root().doc.version + 1);
      FetchBuffer buffer;
      bool missing = false;
      if (!Fetch(buffer, url_ + name, kMaxRootSize, &missing)) {
        if (missing) return true;  // the trusted root is the newest
        Fail(Problem::kUnavailable, L"update metadata not available: " + name);
        return false;
      }
      if (base::Status ok = set_->UpdateRoot(View(buffer)); !ok) return Refuse(ok.failure());
      Keep(name, View(buffer));
    }
    return true;
  }

  void LoadKeptMetadata() {
    std::optional<std::string> timestamp = store_.Read(L"timestamp.json", kMaxTimestampSize);
    if (!timestamp) return;
    if (!set_->LoadTimestamp(*timestamp)) {
      store_.Remove(L"timestamp.json");
      return;
    }
    std::optional<std::string> snapshot = store_.Read(L"snapshot.json", kMaxSnapshotSize);
    if (!snapshot) return;
    if (!set_->LoadSnapshot(*snapshot)) {
      store_.Remove(L"snapshot.json");
      return;
    }
    std::optional<std::string> targets = store_.Read(L"targets.json", kMaxTargetsSize);
    if (!targets) return;
    if (!set_->LoadTargets(*targets)) store_.Remove(L"targets.json");
  }

  bool FetchRole(FetchBuffer& buffer, const std::wstring& name, std::size_t limit) {
    bool missing = false;
    if (Fetch(buffer, url_ + name, limit, &missing)) return true;
    Fail(Problem::kUnavailable, L"update metadata not available: " + name);
    return false;
  }

  bool UpdateTimestamp() {
    FetchBuffer buffer;
    if (!FetchRole(buffer, L"timestamp.json", kMaxTimestampSize)) return false;
    base::Result<bool> replaced = set_->UpdateTimestamp(View(buffer));
    if (!replaced) return Refuse(replaced.failure());
    if (*replaced) pending_ = std::string(View(buffer));
    return true;
  }

  // The size a file may have: what the level above signed, or the cap of its kind.
  static std::size_t Limit(const MetaFile& meta, std::size_t cap) {
    if (meta.length < 0) return cap;
    return static_cast<std::size_t>(std::min<std::int64_t>(meta.length, static_cast<std::int64_t>(cap)));
  }

  std::wstring VersionedName(std::int64_t version, Role role) const {
    const std::wstring file = RoleWideName(role) + L".json";
    return set_->root().consistentSnapshot ? Num(version) + L"." + file : file;
  }

  bool UpdateSnapshot() {
    const MetaFile& meta = set_->timestamp()->snapshot;
    FetchBuffer buffer;
    if (!FetchRole(buffer, VersionedName(meta.version, Role::kSnapshot), Limit(meta, kMaxSnapshotSize))) return false;
    if (base::Status ok = set_->UpdateSnapshot(View(buffer)); !ok) return Refuse(ok.failure());
    pending_ = std::string(View(buffer));
    return true;
  }

  bool UpdateTargets() {
    const MetaFile& meta = set_->snapshot()->meta.at("targets.json");
    FetchBuffer buffer;
    if (!FetchRole(buffer, VersionedName(meta.version, Role::kTargets), Limit(meta, kMaxTargetsSize))) return false;
    if (base::Status ok = set_->UpdateTargets(View(buffer)); !ok) return Refuse(ok.failure());
    pending_ = std::string(View(buffer));
    return true;
  }

  const std::wstring& url_;
  Store store_;
  RefreshResult& result_;
  std::optional<TrustedSet> set_;
  std::optional<std::string> pending_;
};

}  // namespace

RefreshResult Refresh(const std::string& builtInRoot, const std::wstring& metadataUrl,
                      const std::wstring& storeFolder, std::int64_t now) {
  RefreshResult result;
  Refresher refresher(metadataUrl, storeFolder, result);
  refresher.Run(builtInRoot, now);
  refresher.NoteClock();
  if (result.problem != Problem::kNone) result.release.reset();
  return result;
}

std::wstring TargetUrl(const std::wstring& targetsUrl, const std::string& targetPath, const TargetFile& file,
                       bool consistentSnapshot) {
  std::wstring path = base::Utf8ToWide(targetPath);
  if (consistentSnapshot) {
    std::size_t slash = path.rfind(L'/');
    std::size_t nameAt = slash == std::wstring::npos ? 0 : slash + 1;
    path.insert(nameAt, base::Utf8ToWide(file.sha256) + L".");
  }
  return targetsUrl + PercentEncodePath(path);
}

}  // namespace update::tuf
