// The TUF pieces below the network: canonical JSON, times, and the trusted set's rules on
// metadata signed here with the system's cryptography (CNG under Wine, libcrypto on
// Linux). Repositories written by another implementation are tuf_worker_test's.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/text.h"
#include "platform/signing.h"
#include "update/tuf/canonical_json.h"
#include "update/tuf/key.h"
#include "update/tuf/metadata.h"
#include "update/tuf/trusted_set.h"

namespace tuf = update::tuf;
using nlohmann::json;

namespace {

std::string Narrow(const std::wstring& text) { return base::WideToUtf8(text); }

TEST(CanonicalJson, SortsKeysAndEscapesOnlyQuoteAndBackslash) {
  const struct {
    json value;
    std::string canonical;
  } cases[] = {
      {json::parse(R"({"b": 1, "a": [true, false, null], "A": -3})"), R"({"A":-3,"a":[true,false,null],"b":1})"},
      // A line feed, a tab and non-ASCII text stay as they are; only " and \ are escaped.
      {json("x\"y\\z\n\t\u00e9"), "\"x\\\"y\\\\z\n\t\xc3\xa9\""},
      {json::parse(R"({"z": {"y": {}, "x": []}, "é": "", "e": 18446744073709551615})"),
       "{\"e\":18446744073709551615,\"z\":{\"x\":[],\"y\":{}},\"\xc3\xa9\":\"\"}"},
  };
  for (const auto& c : cases) {
    auto canonical = tuf::CanonicalJson(c.value);
    ASSERT_TRUE(canonical.ok());
    EXPECT_EQ(*canonical, c.canonical);
  }
  EXPECT_FALSE(tuf::CanonicalJson(json::parse(R"({"a": 1.5})")).ok());
  EXPECT_FALSE(tuf::CanonicalJson(json::parse(R"([1e3])")).ok());
}

// A timestamp file of nothing but brackets (its 16 KiB allow 8000 levels) is refused, not
// a stack run out.
TEST(CanonicalJson, RefusesNestingNoMetadataHas) {
  const std::string deep = std::string(8000, '[') + std::string(8000, ']');
  auto refused = tuf::ParseTimestamp(
      R"({"signatures": [], "signed": {"_type": "timestamp", "spec_version": "1.0.31", "version": 1,)"
      R"( "expires": "2030-01-01T00:00:00Z", "meta": {"snapshot.json": {"version": 1}}, "x": )" + deep + "}}");
  ASSERT_FALSE(refused.ok());
  EXPECT_NE(refused.failure().reason.find(L"nests too deep"), std::wstring::npos);
  json nested = json::array();
  for (int i = 0; i < 64; ++i) nested = json::array({nested});
  EXPECT_TRUE(tuf::CanonicalJson(nested).ok());
  EXPECT_FALSE(tuf::CanonicalJson(json::array({nested})).ok());
}

TEST(TufTime, ParsesOnlyTufsOwnForm) {
  const struct {
    const char* text;
    std::optional<std::int64_t> seconds;
  } cases[] = {
      {"1970-01-01T00:00:00Z", 0},
      {"2030-01-31T12:34:56Z", 1896093296},
      {"2024-02-29T00:00:00Z", 1709164800},
      {"2023-02-29T00:00:00Z", std::nullopt},
      {"2030-13-01T00:00:00Z", std::nullopt},
      {"2030-01-01T24:00:00Z", std::nullopt},
      {"2030-01-01T00:00:00.000Z", std::nullopt},
      {"2030-01-01T00:00:00+00:00", std::nullopt},
      {"2030-01-01 00:00:00Z", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tuf::ParseTime(c.text), c.seconds) << c.text;
    if (c.seconds) {
      EXPECT_EQ(Narrow(tuf::TimeText(*c.seconds)), c.text);
    }
  }
}

// Keys made here and metadata signed with them, as a repository would hold it.
class Keys {
 public:
  explicit Keys(int count) {
    for (int i = 0; i < count; ++i) {
      platform::Error err;
      auto key = platform::P256PrivateKey::Generate(&err);
      EXPECT_TRUE(key) << Narrow(err.message);
      objects.push_back(tuf::KeyObject(key->PublicKey()));
      ids.push_back(*tuf::KeyId(objects.back()));
      keys.push_back(std::move(*key));
    }
  }
  std::vector<platform::P256PrivateKey> keys;
  std::vector<json> objects;
  std::vector<std::string> ids;
};

json Signature(const json& signedPart, const platform::P256PrivateKey& key, const std::string& id) {
  std::string bytes = *tuf::CanonicalJson(signedPart);
  auto rs = key.SignDigest(platform::Sha256::Of(bytes.data(), bytes.size()));
  return {{"keyid", id}, {"sig", tuf::SignatureHex(*rs)}};
}

std::string Document(const json& signedPart, const std::vector<json>& signatures) {
  json document = json::object();
  document["signed"] = signedPart;
  document["signatures"] = signatures;
  return document.dump();
}

const char kFuture[] = "2100-01-01T00:00:00Z";
constexpr std::int64_t kNow = 1900000000;

// A root whose every role has the keys `k` (by index) and the threshold given.
json RootSigned(int version, const Keys& k, const std::vector<int>& rootKeys, int rootThreshold,
                const std::vector<int>& timestampKeys, int timestampThreshold) {
  json keys = json::object();
  auto ids = [&](const std::vector<int>& which) {
    json list = json::array();
    for (int i : which) {
      keys[k.ids[i]] = k.objects[i];
      list.push_back(k.ids[i]);
    }
    return list;
  };
  json roles = {{"root", {{"keyids", ids(rootKeys)}, {"threshold", rootThreshold}}},
                {"timestamp", {{"keyids", ids(timestampKeys)}, {"threshold", timestampThreshold}}},
                {"snapshot", {{"keyids", ids({0})}, {"threshold", 1}}},
                {"targets", {{"keyids", ids({0})}, {"threshold", 1}}}};
  return {{"_type", "root"}, {"spec_version", "1.0.31"}, {"version", version}, {"expires", kFuture},
          {"consistent_snapshot", true}, {"keys", keys}, {"roles", roles}};
}

json TimestampSigned(int version, int snapshotVersion) {
  return {{"_type", "timestamp"}, {"spec_version", "1.0.31"}, {"version", version}, {"expires", kFuture},
          {"meta", {{"snapshot.json", {{"version", snapshotVersion}}}}}};
}

TEST(TrustedSet, ThresholdsCountEachKeyOnce) {
  Keys k(3);
  const json rootSigned = RootSigned(1, k, {0}, 1, {1, 2}, 2);
  base::Result<tuf::TrustedSet> set =
      tuf::TrustedSet::Start(Document(rootSigned, {Signature(rootSigned, k.keys[0], k.ids[0])}), kNow);
  ASSERT_TRUE(set.ok()) << Narrow(set.failure().reason);

  const json ts = TimestampSigned(1, 1);
  const json byOne = Signature(ts, k.keys[1], k.ids[1]);
  const json byOther = Signature(ts, k.keys[2], k.ids[2]);
  // One key's signature twice (and once more freshly made) is one signature.
  EXPECT_FALSE(set->UpdateTimestamp(Document(ts, {byOne, byOne, Signature(ts, k.keys[1], k.ids[1])})).ok());
  // A valid signature under the id of another listed key counts for neither.
  EXPECT_FALSE(set->UpdateTimestamp(Document(ts, {byOne, {{"keyid", k.ids[2]}, {"sig", byOne["sig"]}}})).ok());
  // A key the root lists for another role only counts nothing here.
  EXPECT_FALSE(set->UpdateTimestamp(Document(ts, {byOne, Signature(ts, k.keys[0], k.ids[0])})).ok());
  base::Result<bool> two = set->UpdateTimestamp(Document(ts, {byOther, byOne}));
  ASSERT_TRUE(two.ok()) << Narrow(two.failure().reason);
  EXPECT_TRUE(*two);
}

TEST(TrustedSet, OneKeyUnderTwoIdsIsRefused) {
  Keys k(2);
  json rootSigned = RootSigned(1, k, {0}, 1, {1}, 2);
  // The same public key again under an id of its own making: the root itself is refused.
  rootSigned["keys"]["0000000000000000000000000000000000000000000000000000000000000000"] = k.objects[1];
  rootSigned["roles"]["timestamp"]["keyids"].push_back(
      "0000000000000000000000000000000000000000000000000000000000000000");
  auto set = tuf::TrustedSet::Start(Document(rootSigned, {Signature(rootSigned, k.keys[0], k.ids[0])}), kNow);
  ASSERT_FALSE(set.ok());
  EXPECT_NE(set.failure().reason.find(L"is not the hash of its key"), std::wstring::npos);

  // The same point written with CR LF is another key object, with an id that is its hash:
  // it is still one key, and one signature of it counts once.
  json crlf = k.objects[1];
  std::string pem;
  for (char c : crlf["keyval"]["public"].get<std::string>()) pem += c == '\n' ? std::string("\r\n") : std::string(1, c);
  crlf["keyval"]["public"] = pem;
  const std::string crlfId = *tuf::KeyId(crlf);
  json twin = RootSigned(1, k, {0}, 1, {1}, 2);
  twin["keys"][crlfId] = crlf;
  twin["roles"]["timestamp"]["keyids"].push_back(crlfId);
  auto twinSet = tuf::TrustedSet::Start(Document(twin, {Signature(twin, k.keys[0], k.ids[0])}), kNow);
  ASSERT_TRUE(twinSet.ok()) << Narrow(twinSet.failure().reason);
  const json ts = TimestampSigned(1, 1);
  EXPECT_FALSE(twinSet->UpdateTimestamp(Document(ts, {Signature(ts, k.keys[1], k.ids[1]),
                                                      Signature(ts, k.keys[1], crlfId)})).ok());
}

TEST(TrustedSet, ANewRootNeedsTheOldAndItsOwnKeysAndTheNextVersion) {
  Keys k(3);
  const json v1 = RootSigned(1, k, {0}, 1, {0}, 1);
  auto set = tuf::TrustedSet::Start(Document(v1, {Signature(v1, k.keys[0], k.ids[0])}), kNow);
  ASSERT_TRUE(set.ok());
  const json v2 = RootSigned(2, k, {1, 2}, 2, {0}, 1);
  const json old = Signature(v2, k.keys[0], k.ids[0]);
  const json new1 = Signature(v2, k.keys[1], k.ids[1]);
  const json new2 = Signature(v2, k.keys[2], k.ids[2]);
  const struct {
    const char* name;
    std::string bytes;
    bool accepted;
  } cases[] = {
      {"only the new keys", Document(v2, {new1, new2}), false},
      {"the old key and fewer new keys than the new threshold", Document(v2, {old, new1}), false},
      {"a version that skips one", Document(RootSigned(3, k, {1, 2}, 2, {0}, 1), {old, new1, new2}), false},
      {"the same version again", Document(v1, {Signature(v1, k.keys[0], k.ids[0])}), false},
      {"the old key and the new threshold", Document(v2, {new2, old, new1}), true},
  };
  for (const auto& c : cases) EXPECT_EQ(set->UpdateRoot(c.bytes).ok(), c.accepted) << c.name;
  EXPECT_EQ(set->root().doc.version, 2);
  EXPECT_EQ(set->root().roles.at(tuf::Role::kRoot).threshold, 2);
}

TEST(TrustedSet, KeysOfOtherTypesAreLeftOutAndDelegationsRefused) {
  Keys k(1);
  json rootSigned = RootSigned(1, k, {0}, 1, {0}, 1);
  json rsa = {{"keytype", "rsa"}, {"scheme", "rsassa-pss-sha256"}, {"keyval", {{"public", "-----BEGIN PUBLIC KEY-----"}}}};
  rootSigned["keys"][*tuf::KeyId(rsa)] = rsa;
  rootSigned["roles"]["targets"]["keyids"].push_back(*tuf::KeyId(rsa));
  auto root = tuf::ParseRoot(Document(rootSigned, {}));
  ASSERT_TRUE(root.ok()) << Narrow(root.failure().reason);
  EXPECT_EQ(root->keys.size(), 1u);

  json targets = {{"_type", "targets"}, {"spec_version", "1.0.31"}, {"version", 1}, {"expires", kFuture},
                  {"targets", json::object()},
                  {"delegations", {{"keys", json::object()}, {"roles", {{{"name", "x"}}}}}}};
  auto refused = tuf::ParseTargets(Document(targets, {}));
  ASSERT_FALSE(refused.ok());
  EXPECT_NE(refused.failure().reason.find(L"delegations are not supported"), std::wstring::npos);
  targets["delegations"]["roles"] = json::array();
  EXPECT_TRUE(tuf::ParseTargets(Document(targets, {})).ok());
}

TEST(TrustedSet, ExpiryIsJudgedAgainstTheRunsClock) {
  Keys k(1);
  json rootSigned = RootSigned(1, k, {0}, 1, {0}, 1);
  rootSigned["expires"] = "2030-01-01T00:00:00Z";
  const std::string bytes = Document(rootSigned, {Signature(rootSigned, k.keys[0], k.ids[0])});
  const std::int64_t expires = *tuf::ParseTime("2030-01-01T00:00:00Z");
  EXPECT_TRUE(tuf::TrustedSet::Start(bytes, expires - 1)->CheckExpiry(tuf::Role::kRoot).ok());
  base::Status at = tuf::TrustedSet::Start(bytes, expires)->CheckExpiry(tuf::Role::kRoot);
  ASSERT_FALSE(at.ok());
  EXPECT_EQ(at.failure().reason,
            L"update metadata expired: root, expired 2030-01-01T00:00:00Z, clock 2030-01-01T00:00:00Z");
  EXPECT_FALSE(tuf::TrustedSet::Start(bytes, expires)->CheckExpiry(tuf::Role::kTimestamp).ok());
}

}  // namespace
