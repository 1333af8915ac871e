#include "update/tuf/metadata.h"

#include <cstdio>
#include <set>

#include "base/text.h"
#include "update/tuf/canonical_json.h"
#include "update/tuf/key.h"

namespace update::tuf {

namespace {

using nlohmann::json;

base::Failure Invalid(Role role, const std::wstring& why) {
  return base::MakeFailure(base::Failure::Kind::kInvalid, RoleWideName(role) + L" metadata: " + why);
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and back
// (the well-known era-based conversion).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<std::int64_t>(yoe) + era * 400 + (*m <= 2);
}

bool ReadDigits(std::string_view text, std::size_t at, std::size_t count, unsigned* value) {
  *value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    *value = *value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  return true;
}

// A whole number that fits std::int64_t and is at least `min`.
std::optional<std::int64_t> Integer(const json& value, std::int64_t min) {
  std::int64_t n;
  if (value.is_number_unsigned()) {
    std::uint64_t u = value.get<std::uint64_t>();
    if (u > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
    n = static_cast<std::int64_t>(u);
  } else if (value.is_number_integer()) {
    n = value.get<std::int64_t>();
  } else {
    return std::nullopt;
  }
  if (n < min) return std::nullopt;
  return n;
}

const json* Member(const json& object, const char* name) {
  auto it = object.find(name);
  return it == object.end() ? nullptr : &*it;
}

std::optional<std::string> Sha256Hex(const json& hashes) {
  if (!hashes.is_object()) return std::nullopt;
  const json* sha = Member(hashes, "sha256");
  if (!sha || !sha->is_string()) return std::nullopt;
  std::string hex = sha->get<std::string>();
  if (hex.size() != 64) return std::nullopt;
  for (char& c : hex) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::nullopt;
  }
  return hex;
}

std::wstring Wide(const std::string& utf8) { return base::Utf8ToWide(utf8); }

// The envelope and the fields every role has; *signedPart is the "signed" object.
base::Result<Document> ParseDocument(std::string_view bytes, Role role, json* signedPart) {
  json whole = json::parse(bytes.begin(), bytes.end(), nullptr, /*allow_exceptions=*/false);
  if (whole.is_discarded() || !whole.is_object()) return Invalid(role, L"not a JSON object");
  const json* sigs = Member(whole, "signatures");
  const json* body = Member(whole, "signed");
  if (!sigs || !sigs->is_array()) return Invalid(role, L"no signatures list");
  if (!body || !body->is_object()) return Invalid(role, L"no signed object");

  Document doc;
  doc.role = role;
  for (const json& sig : *sigs) {
    const json* keyId = sig.is_object() ? Member(sig, "keyid") : nullptr;
    const json* value = sig.is_object() ? Member(sig, "sig") : nullptr;
    if (!keyId || !keyId->is_string() || !value || !value->is_string())
      return Invalid(role, L"a signature without keyid or sig");
    doc.signatures.push_back({keyId->get<std::string>(), value->get<std::string>()});
  }

  const json* type = Member(*body, "_type");
  if (!type || !type->is_string() || *type != RoleName(role)) return Invalid(role, L"_type is not " + RoleWideName(role));
  const json* spec = Member(*body, "spec_version");
  if (!spec || !spec->is_string()) return Invalid(role, L"no spec_version");
  const std::string& specText = spec->get_ref<const std::string&>();
  // Only TUF 1.x metadata: a later major version may mean what this client
  // cannot check.
  if (specText.compare(0, 2, "1.") != 0) return Invalid(role, L"unsupported spec_version " + Wide(specText));
  const json* version = Member(*body, "version");
  std::optional<std::int64_t> v = version ? Integer(*version, 1) : std::nullopt;
  if (!v) return Invalid(role, L"version is not a whole number of at least 1");
  doc.version = *v;
  const json* expires = Member(*body, "expires");
  std::optional<std::int64_t> e =
      expires && expires->is_string() ? ParseTime(expires->get_ref<const std::string&>()) : std::nullopt;
  if (!e) return Invalid(role, L"expires is not a time like 2030-01-31T12:00:00Z");
  doc.expires = *e;

  base::Result<std::string> canonical = CanonicalJson(*body);
  if (!canonical) return Invalid(role, canonical.failure().reason);
  doc.canonicalSigned = std::move(*canonical);
  *signedPart = std::move(*body);
  return doc;
}

base::Result<MetaFile> ParseMetaFile(const json& entry, Role role, const std::string& name) {
  const std::wstring what = L"meta " + Wide(name) + L": ";
  if (!entry.is_object()) return Invalid(role, what + L"not an object");
  MetaFile file;
  const json* version = Member(entry, "version");
  std::optional<std::int64_t> v = version ? Integer(*version, 1) : std::nullopt;
  if (!v) return Invalid(role, what + L"no version");
  file.version = *v;
  if (const json* length = Member(entry, "length")) {
    std::optional<std::int64_t> n = Integer(*length, 0);
    if (!n) return Invalid(role, what + L"length is not a whole number");
    file.length = *n;
  }
  if (const json* hashes = Member(entry, "hashes")) {
    // Hashes of other algorithms may stand beside it; SHA-256 is the one this client checks.
    file.sha256 = Sha256Hex(*hashes);
    if (!file.sha256) return Invalid(role, what + L"hashes hold no sha256");
  }
  return file;
}

}  // namespace

const char* RoleName(Role role) {
  switch (role) {
    case Role::kRoot: return "root";
    case Role::kTimestamp: return "timestamp";
    case Role::kSnapshot: return "snapshot";
    case Role::kTargets: return "targets";
  }
  return "?";
}

std::wstring RoleWideName(Role role) { return Wide(RoleName(role)); }

std::optional<std::int64_t> ParseTime(std::string_view text) {
  // YYYY-MM-DDTHH:MM:SSZ exactly.
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != 'Z')
    return std::nullopt;
  unsigned year, month, day, hour, minute, second;
  if (!ReadDigits(text, 0, 4, &year) || !ReadDigits(text, 5, 2, &month) || !ReadDigits(text, 8, 2, &day) ||
      !ReadDigits(text, 11, 2, &hour) || !ReadDigits(text, 14, 2, &minute) || !ReadDigits(text, 17, 2, &second))
    return std::nullopt;
  if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > kDays[month - 1] + (month == 2 && leap ? 1 : 0)) return std::nullopt;
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

std::wstring TimeText(std::int64_t seconds) {
  std::int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  std::int64_t rest = seconds - days * 86400;
  std::int64_t year;
  unsigned month, day;
  CivilFromDays(days, &year, &month, &day);
  char text[48];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02u:%02u:%02uZ", static_cast<long long>(year), month, day,
                static_cast<unsigned>(rest / 3600), static_cast<unsigned>(rest / 60 % 60),
                static_cast<unsigned>(rest % 60));
  return Wide(text);
}

base::Result<Root> ParseRoot(std::string_view bytes) {
  json body;
  base::Result<Document> doc = ParseDocument(bytes, Role::kRoot, &body);
  if (!doc) return doc.TakeFailure();
  Root root;
  root.doc = std::move(*doc);

  const json* consistent = Member(body, "consistent_snapshot");
  root.consistentSnapshot = consistent && consistent->is_boolean() && consistent->get<bool>();

  const json* keys = Member(body, "keys");
  if (!keys || !keys->is_object()) return Invalid(Role::kRoot, L"no keys");
  for (const auto& [id, key] : keys->items()) {
    // An id is the hash of its key: one key cannot stand under two ids and be counted
    // twice towards a threshold.
    base::Result<std::string> actual = KeyId(key);
    if (!actual || *actual != id) return Invalid(Role::kRoot, L"key id " + Wide(id) + L" is not the hash of its key");
    base::Result<platform::P256PublicKey> point = ParseKey(key);
    if (point) root.keys.emplace(id, *point);
  }

  const json* roles = Member(body, "roles");
  if (!roles || !roles->is_object()) return Invalid(Role::kRoot, L"no roles");
  for (Role role : {Role::kRoot, Role::kTimestamp, Role::kSnapshot, Role::kTargets}) {
    const json* entry = Member(*roles, RoleName(role));
    if (!entry || !entry->is_object()) return Invalid(Role::kRoot, L"no role " + RoleWideName(role));
    const json* ids = Member(*entry, "keyids");
    const json* threshold = Member(*entry, "threshold");
    const std::int64_t t = threshold ? Integer(*threshold, 1).value_or(0) : 0;
    if (!ids || !ids->is_array() || t < 1 || t > 1024)
      return Invalid(Role::kRoot, L"role " + RoleWideName(role) + L" without key ids or a threshold of at least 1");
    RoleKeys roleKeys;
    roleKeys.threshold = static_cast<int>(t);
    std::set<std::string> seen;
    for (const json& id : *ids) {
      if (!id.is_string()) return Invalid(Role::kRoot, L"role " + RoleWideName(role) + L" has a key id that is no text");
      if (seen.insert(id.get<std::string>()).second) roleKeys.keyIds.push_back(id.get<std::string>());
    }
    root.roles.emplace(role, std::move(roleKeys));
  }
  return root;
}

base::Result<Timestamp> ParseTimestamp(std::string_view bytes) {
  json body;
  base::Result<Document> doc = ParseDocument(bytes, Role::kTimestamp, &body);
  if (!doc) return doc.TakeFailure();
  Timestamp timestamp;
  timestamp.doc = std::move(*doc);
  const json* meta = Member(body, "meta");
  const json* snapshot = meta && meta->is_object() ? Member(*meta, "snapshot.json") : nullptr;
  if (!snapshot) return Invalid(Role::kTimestamp, L"meta names no snapshot.json");
  base::Result<MetaFile> file = ParseMetaFile(*snapshot, Role::kTimestamp, "snapshot.json");
  if (!file) return file.TakeFailure();
  timestamp.snapshot = *file;
  return timestamp;
}

base::Result<Snapshot> ParseSnapshot(std::string_view bytes) {
  json body;
  base::Result<Document> doc = ParseDocument(bytes, Role::kSnapshot, &body);
  if (!doc) return doc.TakeFailure();
  Snapshot snapshot;
  snapshot.doc = std::move(*doc);
  const json* meta = Member(body, "meta");
  if (!meta || !meta->is_object()) return Invalid(Role::kSnapshot, L"no meta");
  for (const auto& [name, entry] : meta->items()) {
    base::Result<MetaFile> file = ParseMetaFile(entry, Role::kSnapshot, name);
    if (!file) return file.TakeFailure();
    snapshot.meta.emplace(name, *file);
  }
  if (snapshot.meta.find("targets.json") == snapshot.meta.end())
    return Invalid(Role::kSnapshot, L"meta names no targets.json");
  return snapshot;
}

base::Result<Targets> ParseTargets(std::string_view bytes) {
  json body;
  base::Result<Document> doc = ParseDocument(bytes, Role::kTargets, &body);
  if (!doc) return doc.TakeFailure();
  Targets targets;
  targets.doc = std::move(*doc);
  if (const json* delegations = Member(body, "delegations")) {
    const json* roles = delegations->is_object() ? Member(*delegations, "roles") : nullptr;
    if (!delegations->is_object() || (roles && !(roles->is_array() && roles->empty())))
      return Invalid(Role::kTargets, L"delegations are not supported");
  }
  const json* list = Member(body, "targets");
  if (!list || !list->is_object()) return Invalid(Role::kTargets, L"no targets");
  for (const auto& [path, entry] : list->items()) {
    const std::wstring what = L"target " + Wide(path) + L": ";
    if (!entry.is_object()) return Invalid(Role::kTargets, what + L"not an object");
    TargetFile file;
    const json* length = Member(entry, "length");
    std::optional<std::int64_t> n = length ? Integer(*length, 0) : std::nullopt;
    if (!n) return Invalid(Role::kTargets, what + L"no length");
    file.length = *n;
    const json* hashes = Member(entry, "hashes");
    std::optional<std::string> sha = hashes ? Sha256Hex(*hashes) : std::nullopt;
    if (!sha) return Invalid(Role::kTargets, what + L"hashes hold no sha256");
    file.sha256 = *sha;
    if (const json* custom = Member(entry, "custom")) file.custom = *custom;
    targets.targets.emplace(path, std::move(file));
  }
  return targets;
}

base::Status CheckSignatures(const Root& root, Role role, const Document& doc) {
  const RoleKeys& roleKeys = root.roles.at(role);
  std::set<std::string> allowed(roleKeys.keyIds.begin(), roleKeys.keyIds.end());
  std::set<std::string> countedIds;
  std::set<platform::P256PublicKey> countedKeys;
  for (const Document::Signature& sig : doc.signatures) {
    if (!allowed.count(sig.keyId) || countedIds.count(sig.keyId)) continue;
    auto key = root.keys.find(sig.keyId);
    if (key == root.keys.end() || countedKeys.count(key->second)) continue;
    if (!VerifySignature(key->second, doc.canonicalSigned, sig.sig)) continue;
    countedIds.insert(sig.keyId);
    countedKeys.insert(key->second);
  }
  const int valid = static_cast<int>(countedIds.size());
  if (valid >= roleKeys.threshold) return {};
  return base::MakeFailure(base::Failure::Kind::kRefused,
                           RoleWideName(doc.role) + L" metadata version " + std::to_wstring(doc.version) +
                               L" has " + std::to_wstring(valid) + L" valid signatures of " + RoleWideName(role) +
                               L" keys, " + std::to_wstring(roleKeys.threshold) + L" needed");
}

}  // namespace update::tuf
