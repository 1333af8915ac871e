#include "tuf_keys.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "base/text.h"
#include "platform/atomic_file.h"
#include "platform/platform.h"
#include "server_folder.h"
#include "tuf_metadata.h"
#include "update/tuf/key.h"

namespace fs = std::filesystem;

namespace publish {

namespace {

using nlohmann::json;

constexpr wchar_t kRootFile[] = L"root.json";

base::Failure Failed(base::Failure::Kind kind, std::wstring reason) {
  return base::MakeFailure(kind, std::move(reason));
}

base::Result<SigningKey> ReadKey(Role role, const std::wstring& path) {
  platform::Error err;
  auto key = platform::P256PrivateKey::ReadPem(path, &err);
  if (!key) return Failed(base::Failure::Kind::kInvalid, path + L": " + err.message);
  SigningKey signing{role, path, std::move(*key), {}, {}};
  signing.keyObject = update::tuf::KeyObject(signing.key.PublicKey());
  auto id = update::tuf::KeyId(signing.keyObject);
  if (!id) return id.TakeFailure();
  signing.keyId = std::move(*id);
  return signing;
}

}  // namespace

base::Result<RootFile> ReadRoot(const std::wstring& path, const std::string& bytes) {
  auto root = update::tuf::ParseRoot(bytes);
  if (!root) return Failed(base::Failure::Kind::kInvalid, path + L": " + root.failure().reason);
  // The reader has checked it is JSON of the right shape.
  return RootFile{path, json::parse(bytes), std::move(*root)};
}

std::optional<Role> RoleFromName(const std::string& name) {
  for (Role role : kRoles)
    if (name == RoleName(role)) return role;
  return std::nullopt;
}

std::optional<Role> RoleOfKeyFile(const std::wstring& fileName) {
  const std::wstring suffix = L".pem";
  if (fileName.size() <= suffix.size() ||
      fileName.compare(fileName.size() - suffix.size(), suffix.size(), suffix) != 0)
    return std::nullopt;
  const std::wstring stem = fileName.substr(0, fileName.size() - suffix.size());
  for (Role role : kRoles) {
    const std::wstring name = base::Utf8ToWide(RoleName(role));
    if (stem == name) return role;
    // "<role>-<n>" with n a decimal number from 2, without leading zeros.
    if (stem.size() > name.size() + 1 && stem.compare(0, name.size(), name) == 0 &&
        stem[name.size()] == L'-' && stem[name.size() + 1] >= L'1' && stem[name.size() + 1] <= L'9' &&
        std::all_of(stem.begin() + name.size() + 1, stem.end(),
                    [](wchar_t c) { return c >= L'0' && c <= L'9'; }) &&
        stem != name + L"-1")
      return role;
  }
  return std::nullopt;
}

std::wstring KeyFileName(Role role, int n) {
  std::wstring name = base::Utf8ToWide(RoleName(role));
  if (n > 1) name += L"-" + std::to_wstring(n);
  return name + L".pem";
}

const SigningKey* KeyRing::Find(const std::string& keyId) const {
  for (const SigningKey& key : keys)
    if (key.keyId == keyId) return &key;
  return nullptr;
}

base::Result<KeyRing> LoadKeyFolders(const std::vector<std::wstring>& folders) {
  KeyRing ring;
  for (const std::wstring& folder : folders) {
    std::error_code ec;
    if (!fs::is_directory(ToPath(folder), ec))
      return Failed(base::Failure::Kind::kSystem, folder + L": not a folder");
    std::vector<fs::path> files;
    for (fs::directory_iterator it(ToPath(folder), ec), end; !ec && it != end; it.increment(ec))
      if (it->is_regular_file(ec)) files.push_back(it->path());
    if (ec) return Failed(base::Failure::Kind::kSystem, folder + L": " + base::Utf8ToWide(ec.message()));
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
      const std::wstring name = FromPath(file.filename());
      if (name == kRootFile) {
        auto bytes = ReadWholeFile(FromPath(file));
        if (!bytes) return bytes.TakeFailure();
        auto root = ReadRoot(FromPath(file), *bytes);
        if (!root) return root.TakeFailure();
        ring.roots.push_back(std::move(*root));
        continue;
      }
      auto role = RoleOfKeyFile(name);
      if (!role) continue;
      auto key = ReadKey(*role, FromPath(file));
      if (!key) return key.TakeFailure();
      // The same key in two folders (a backup copy given too) counts once.
      if (ring.Find(key->keyId) == nullptr) ring.keys.push_back(std::move(*key));
    }
  }
  return ring;
}

int KeyPlan::ThresholdOf(Role role) const {
  auto found = threshold.find(role);
  return found == threshold.end() ? 1 : found->second;
}

int KeyPlan::KeysOf(Role role) const {
  auto found = count.find(role);
  return found == count.end() ? ThresholdOf(role) : found->second;
}

base::Result<NewKeysResult> CreateKeys(const std::wstring& folder, const std::vector<Role>& roles,
                                       const KeyPlan& plan, int rootDays, std::int64_t now) {
  const std::vector<Role> chosen = roles.empty() ? std::vector<Role>(kRoles.begin(), kRoles.end()) : roles;
  const bool wholeSet = std::all_of(kRoles.begin(), kRoles.end(), [&](Role role) {
    return std::find(chosen.begin(), chosen.end(), role) != chosen.end();
  });
  for (Role role : chosen)
    if (plan.ThresholdOf(role) < 1 || plan.KeysOf(role) < plan.ThresholdOf(role))
      return Failed(base::Failure::Kind::kInvalid,
                    base::Utf8ToWide(RoleName(role)) + L": the threshold must be between 1 and "
                                                           L"the number of keys");

  // Every file is checked before the first is written: a refused run leaves no half set.
  const fs::path dir = ToPath(folder);
  std::vector<std::pair<Role, std::wstring>> files;
  for (Role role : chosen)
    for (int n = 1; n <= plan.KeysOf(role); ++n)
      files.emplace_back(role, FromPath(dir / ToPath(KeyFileName(role, n))));
  std::vector<std::wstring> toCheck;
  for (const auto& [role, path] : files) toCheck.push_back(path);
  const std::wstring rootPath = FromPath(dir / ToPath(kRootFile));
  if (wholeSet) toCheck.push_back(rootPath);
  for (const std::wstring& path : toCheck) {
    std::error_code ec;
    if (fs::exists(ToPath(path), ec) || fs::is_symlink(ToPath(path), ec))
      return Failed(base::Failure::Kind::kRefused,
                    path + L" already exists: new keys never replace a key file, which may be "
                           L"the only copy of a key that launchers trust");
  }
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    if (!fs::create_directories(dir, ec))
      return Failed(base::Failure::Kind::kSystem, folder + L": " + base::Utf8ToWide(ec.message()));
    // Private keys live here: nobody but the owner lists the folder (ignored where the
    // file system has no such modes).
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::replace, ec);
  }

  NewKeysResult result;
  std::map<Role, std::vector<json>> roleKeys;
  std::vector<SigningKey> rootKeys;
  for (const auto& [role, path] : files) {
    platform::Error err;
    auto key = platform::P256PrivateKey::Generate(&err);
    if (!key) return Failed(base::Failure::Kind::kSystem, L"cannot make a key: " + err.message);
    if (!key->WritePem(path, &err)) return Failed(base::Failure::Kind::kSystem, path + L": " + err.message);
    result.written.push_back(path);
    // Read back as every later run will: a file that does not read is found now.
    auto signing = ReadKey(role, path);
    if (!signing) return signing.TakeFailure();
    roleKeys[role].push_back(signing->keyObject);
    if (role == Role::kRoot) rootKeys.push_back(std::move(*signing));
  }
  if (!wholeSet) return result;

  std::map<Role, int> thresholds;
  for (Role role : kRoles) thresholds[role] = plan.ThresholdOf(role);
  const json signedPart = RootSigned(1, now + std::int64_t{rootDays} * 86400, roleKeys, thresholds);
  std::vector<const SigningKey*> signers;
  for (const SigningKey& key : rootKeys) signers.push_back(&key);
  auto root = SignMetadata(signedPart, signers);
  if (!root) return root.TakeFailure();
  const std::string bytes = MetadataFileBytes(*root);
  platform::Error err;
  if (!platform::WriteFileAtomically(rootPath, bytes.data(), bytes.size(), &err))
    return Failed(base::Failure::Kind::kSystem, rootPath + L": " + err.message);
  result.written.push_back(rootPath);
  result.rootPath = rootPath;
  return result;
}

}  // namespace publish
