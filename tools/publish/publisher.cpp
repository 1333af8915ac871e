#include "publisher.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <type_traits>

#include "branding.h"
#include "platform/atomic_file.h"
#include "platform/platform.h"
#include "update/block_index.h"
#include "update/md5_checksum.h"
#include "update/update_signature.h"

namespace fs = std::filesystem;

namespace {

constexpr wchar_t kRuntimePath[] = L"install/runtime/";
constexpr wchar_t kLibFolder[] = L"lib";

// Wide text and std::filesystem paths, in the platform's own encoding of file names
// (UTF-16 on Windows, UTF-8 on Linux) rather than the C library's locale. Templates, so
// that only the branch of the platform's path type is compiled.
template <typename Path = fs::path>
Path ToPath(const std::wstring& text) {
  if constexpr (std::is_same_v<typename Path::value_type, wchar_t>) return Path(text);
  else return Path(platform::WideToUtf8(text));
}
template <typename Path>
std::wstring FromPath(const Path& path) {
  if constexpr (std::is_same_v<typename Path::value_type, wchar_t>) return path.native();
  else return platform::Utf8ToWide(path.native());
}

bool ReadWhole(const std::wstring& path, std::string* bytes, std::wstring* error) {
  platform::File file;
  platform::Error err;
  if (!file.Open(path, platform::OpenMode::kReadShared, &err)) {
    *error = path + L": " + err.message;
    return false;
  }
  bytes->clear();
  char buffer[65536];
  for (;;) {
    size_t got = 0;
    if (!file.Read(buffer, sizeof buffer, &got, &err)) {
      *error = path + L": " + err.message;
      return false;
    }
    if (got == 0) return true;
    bytes->append(buffer, got);
  }
}

// Splits "a/b" into its parts; false when a part is not a plain name.
bool SplitFolder(const std::wstring& folder, std::vector<std::wstring>* parts) {
  parts->clear();
  size_t start = 0;
  while (start <= folder.size()) {
    size_t end = folder.find(L'/', start);
    if (end == std::wstring::npos) end = folder.size();
    std::wstring part = folder.substr(start, end - start);
    if (!part.empty()) {
      if (!IsPlainName(part)) return false;
      parts->push_back(part);
    }
    start = end + 1;
  }
  return true;
}

class Writer {
 public:
  Writer(fs::path root, PublishResult* result) : root_(std::move(root)), result_(result) {}

  // Writes `bytes` to root/relative unless the file holds them already.
  bool Put(const std::wstring& relative, const std::string& bytes) {
    fs::path target = root_ / ToPath(relative);
    std::string existing;
    std::wstring ignored;
    if (fs::is_regular_file(target) && ReadWhole(FromPath(target), &existing, &ignored) &&
        existing == bytes) {
      result_->unchanged.push_back(relative);
      return true;
    }
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    platform::Error err;
    if (!platform::WriteFileAtomically(FromPath(target), bytes.data(), bytes.size(), &err)) {
      result_->error = FromPath(target) + L": " + err.message;
      return false;
    }
    result_->written.push_back(relative);
    return true;
  }

 private:
  fs::path root_;
  PublishResult* result_;
};

// Signs what is published, checking each signature the way the launcher will, so that a
// key file whose public half does not belong to its private half is caught here.
class Signer {
 public:
  Signer(const platform::P256PrivateKey& key, std::optional<std::int64_t> time)
      : key_(key), publicKey_(key.PublicKey()), time_(time) {}

  bool Sign(SignedFileKind kind, const std::wstring& name, const std::string& bytes,
            std::string* signatureFile, std::wstring* error) {
    platform::Sha256Digest sha = platform::Sha256::Of(bytes.data(), bytes.size());
    auto text = ComposeUpdateSignature(key_, kind, name, sha, error, time_);
    if (!text) return false;
    SignatureVerdict check = CheckUpdateSignatureFile(publicKey_, kind, name, sha, *text);
    if (check.check != SignatureCheck::kValid) {
      *error = L"the key file's public key does not belong to its private key";
      return false;
    }
    *signatureFile = std::move(*text);
    return true;
  }

 private:
  const platform::P256PrivateKey& key_;
  platform::P256PublicKey publicKey_;
  std::optional<std::int64_t> time_;
};

// The block index of the package written at `path` (see update/block_index.h). Nothing,
// with the reason in *why, when it has none: no whole zip archive (which the launcher
// refuses anyway), or more pieces than a launcher takes.
std::optional<std::string> BlockIndexOf(const std::wstring& path, const std::wstring& md5, const std::string& pak,
                                        base::Failure* why) {
  platform::File file;
  platform::Error err;
  if (!file.Open(path, platform::OpenMode::kReadShared, &err)) {
    *why = base::MakeFailure(base::Failure::Kind::kSystem, path + L": " + err.message);
    return std::nullopt;
  }
  base::Result<std::vector<block_index::Piece>> pieces = block_index::LayoutPackage(file, branding::kJarKey);
  if (!pieces) {
    *why = pieces.TakeFailure();
    return std::nullopt;
  }
  block_index::Index index;
  index.packageLength = pak.size();
  index.md5 = platform::WideToUtf8(md5);
  index.sha256 = platform::Sha256::Of(pak.data(), pak.size());
  index.pieces = std::move(*pieces);
  return block_index::Encode(index);
}

}  // namespace

std::optional<std::wstring> SigningMismatch(std::string_view builtKey,
                                            const platform::P256PublicKey* signingKey) {
  if (builtKey.empty()) return std::nullopt;  // such launchers read no signatures
  const std::wstring built = platform::Utf8ToWide(std::string(builtKey));
  if (signingKey == nullptr)
    return L"this launcher takes only updates signed with " + built +
           L": publish with --key, or its users keep the version they have";
  if (PublicKeyText(*signingKey) == builtKey) return std::nullopt;
  std::wstring ignored;
  auto parsed = ParsePublicKeyText(builtKey, &ignored);
  if (parsed && *parsed == *signingKey) return std::nullopt;  // the same key in upper case
  return L"this launcher takes only updates signed with " + built +
         L", not with this key: its users keep the version they have";
}

NewKeyResult CreateSigningKey(const std::wstring& path) {
  NewKeyResult result;
  if (platform::FileExists(path) || platform::IsDirectory(path)) {
    result.error = path + L" already exists: a new key never replaces a key file, which may be "
                          L"the only copy of the key that launchers trust";
    return result;
  }
  platform::Error err;
  auto key = platform::P256PrivateKey::Generate(&err);
  if (!key) {
    result.error = L"cannot make a key: " + err.message;
    return result;
  }
  if (!key->WritePem(path, &err)) {
    result.error = path + L": " + err.message;
    return result;
  }
  result.publicKeyText = PublicKeyText(key->PublicKey());
  result.ok = true;
  return result;
}

bool IsPlainName(const std::wstring& name) {
  if (name.empty() || name[0] == L'.') return false;
  return std::all_of(name.begin(), name.end(), [](wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
           c == L'.' || c == L'_' || c == L'+' || c == L'-';
  });
}

std::wstring BuiltServerUrl() {
  std::wstring base = branding::kRuntimeBaseUrl;
  const std::wstring tail = kRuntimePath;
  if (base.size() >= tail.size() && base.compare(base.size() - tail.size(), tail.size(), tail) == 0)
    base.resize(base.size() - tail.size());
  return base;
}

PublishResult Publish(const PublishRequest& request) {
  PublishResult result;

  std::vector<std::wstring> folderParts;
  if (!SplitFolder(request.folder, &folderParts)) {
    result.error = L"the application folder may hold only letters, digits and . _ + - between '/': " +
                   request.folder;
    return result;
  }
  std::wstring folder;
  for (const std::wstring& part : folderParts) folder += part + L"/";

  std::wstring jarName = request.jarName.empty() ? FromPath(ToPath(request.jarPath).filename())
                                                 : request.jarName;
  if (!IsPlainName(jarName)) {
    result.error = L"the jar name may hold only letters, digits and . _ + -: " + jarName;
    return result;
  }

  std::wstring serverUrl = request.serverUrl.empty() ? BuiltServerUrl() : request.serverUrl;
  if (serverUrl.rfind(L"http://", 0) != 0 && serverUrl.rfind(L"https://", 0) != 0) {
    result.error = L"the server URL must start with http:// or https://: " + serverUrl;
    return result;
  }
  if (serverUrl.back() != L'/') serverUrl += L'/';
  if (serverUrl + kRuntimePath != branding::kRuntimeBaseUrl)
    result.warnings.push_back(L"this launcher fetches runtime libraries from " +
                              std::wstring(branding::kRuntimeBaseUrl) +
                              L", not from this server: serve install/runtime/ there too");

  // The jar.
  std::string jar;
  if (!ReadWhole(request.jarPath, &jar, &result.error)) return result;
  if (jar.empty()) {
    result.error = request.jarPath + L": the jar is empty";
    return result;
  }
  // A jar is a zip archive; anything else (an already scrambled .pak, for one) would
  // reach users as a broken application.
  if (jar.compare(0, 4, std::string("PK\x03\x04", 4)) != 0) {
    result.error = request.jarPath + L": not a jar (zip) file";
    return result;
  }
  if (jar.find("zobj/Run.class") == std::string::npos)
    result.warnings.push_back(request.jarPath +
                              L": holds no zobj/Run.class; the launcher will report cod=4");

  // The libraries, in name order so that the same input always gives the same libs.txt.
  std::vector<std::pair<std::wstring, fs::path>> libs;
  if (!request.libsFolder.empty()) {
    std::error_code ec;
    fs::directory_iterator it(ToPath(request.libsFolder), ec);
    if (ec) {
      result.error = request.libsFolder + L": " + platform::Utf8ToWide(ec.message());
      return result;
    }
    for (const fs::directory_entry& entry : it) {
      if (!entry.is_regular_file()) continue;
      std::wstring name = FromPath(entry.path().filename());
      if (!IsPlainName(name)) {
        result.error = FromPath(entry.path()) +
                       L": a library name may hold only letters, digits and . _ + -";
        return result;
      }
      libs.emplace_back(name, entry.path());
    }
    std::sort(libs.begin(), libs.end());
  }

  // The key is read before anything is written: a wrong key file leaves the server as it was.
  std::optional<platform::P256PrivateKey> key;
  if (!request.keyPath.empty()) {
    platform::Error err;
    key = platform::P256PrivateKey::ReadPem(request.keyPath, &err);
    if (!key) {
      result.error = request.keyPath + L": " + err.message;
      return result;
    }
  }
  {
    std::optional<platform::P256PublicKey> signingKey;
    if (key) signingKey = key->PublicKey();
    auto mismatch = SigningMismatch(branding::kUpdatePublicKey, signingKey ? &*signingKey : nullptr);
    if (mismatch) result.warnings.push_back(*mismatch);
  }
  std::optional<Signer> signer;
  if (key) signer.emplace(*key, request.signingTime);

  std::string pak = jar;
  for (char& c : pak) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ branding::kJarKey);
  result.md5 = CMD5Checksum::GetMD5(pak.data(), pak.size());

  Writer writer(ToPath(request.serverRoot), &result);
  // A file first, then its signature: a signature never stands beside bytes it does not
  // sign, except for the moment a changed file is being replaced.
  auto put = [&](SignedFileKind kind, const std::wstring& name, const std::wstring& relative,
                 const std::string& bytes) {
    if (!writer.Put(relative, bytes)) return false;
    if (!signer) return true;
    std::string signature;
    std::wstring why;
    if (!signer->Sign(kind, name, bytes, &signature, &why)) {
      result.error = relative + L": " + why;
      return false;
    }
    return writer.Put(SignatureFileName(relative), signature);
  };
  std::wstring libsText;
  for (const auto& [name, path] : libs) {
    std::string bytes;
    if (!ReadWhole(FromPath(path), &bytes, &result.error)) return result;
    std::wstring entry = std::wstring(kLibFolder) + L"/" + name;
    if (!put(SignedFileKind::kLibrary, entry, kRuntimePath + entry, bytes)) return result;
    if (!libsText.empty()) libsText += L';';
    libsText += entry;
  }
  const std::wstring pakName = folder + result.md5 + L".pak";
  if (!put(SignedFileKind::kPackage, result.md5, pakName, pak)) return result;
  // Beside it, what launchers holding an older jar need to fetch only what changed. It
  // needs no signature: the package it builds is checked as a downloaded one.
  base::Failure noIndex;
  if (std::optional<std::string> index =
          BlockIndexOf(FromPath(ToPath(request.serverRoot) / ToPath(pakName)), result.md5, pak, &noIndex)) {
    if (!writer.Put(pakName + L".idx", *index)) return result;
  } else if (noIndex.kind != base::Failure::Kind::kInvalid) {
    result.warnings.push_back(L"no block index (" + noIndex.reason +
                              L"): launchers with an older jar download the package whole");
  }
  if (!writer.Put(folder + L"libs.txt", platform::WideToUtf8(libsText))) return result;
  if (!writer.Put(folder + L"update.txt", platform::WideToUtf8(result.md5))) return result;

  result.configLine = serverUrl + folder + jarName;
  result.ok = true;
  return result;
}
