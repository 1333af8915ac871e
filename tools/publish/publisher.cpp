#include "publisher.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "base/text.h"
#include "branding.h"
#include "platform/atomic_file.h"
#include "platform/platform.h"
#include "server_folder.h"
#include "tuf_metadata.h"
#include "update/block_index.h"
#include "update/md5_checksum.h"
#include "update/tuf/metadata.h"

namespace fs = std::filesystem;

namespace publish {

namespace {

constexpr wchar_t kRuntimePath[] = L"install/runtime/";
constexpr wchar_t kLibFolder[] = L"lib";
// Beside the metadata it guards; held from reading the repository to the last write.
constexpr wchar_t kLockFile[] = L".publish.lock";

base::Failure Invalid(std::wstring reason) {
  return base::MakeFailure(base::Failure::Kind::kInvalid, std::move(reason));
}

// "a/b" as "a/b/" once every part is a plain name; "" for the server folder itself.
base::Result<std::wstring> AppFolder(const std::wstring& folder) {
  std::wstring normal;
  size_t start = 0;
  while (start <= folder.size()) {
    size_t end = folder.find(L'/', start);
    if (end == std::wstring::npos) end = folder.size();
    std::wstring part = folder.substr(start, end - start);
    if (!part.empty()) {
      if (!IsPlainName(part))
        return Invalid(L"the application folder may hold only letters, digits and . _ + - between '/': " +
                       folder);
      normal += part + L"/";
    }
    start = end + 1;
  }
  return normal;
}

// The jar and libraries of one release, read and checked.
struct Release {
  std::wstring folder;  // "app/"
  std::wstring jarName;
  std::wstring serverUrl;
  std::string package;  // the scrambled jar
  std::wstring md5;
  std::vector<std::pair<std::wstring, std::string>> libraries;  // entry, bytes; libs.txt order
};

base::Result<Release> ReadRelease(const PublishRequest& request, PublishReport* report) {
  Release release;
  auto folder = AppFolder(request.folder);
  if (!folder) return folder.TakeFailure();
  release.folder = std::move(*folder);

  release.jarName = request.jarName.empty() ? FromPath(ToPath(request.jarPath).filename()) : request.jarName;
  if (!IsPlainName(release.jarName))
    return Invalid(L"the jar name may hold only letters, digits and . _ + -: " + release.jarName);

  release.serverUrl = request.serverUrl.empty() ? BuiltServerUrl() : request.serverUrl;
  if (release.serverUrl.rfind(L"http://", 0) != 0 && release.serverUrl.rfind(L"https://", 0) != 0)
    return Invalid(L"the server URL must start with http:// or https://: " + release.serverUrl);
  if (release.serverUrl.back() != L'/') release.serverUrl += L'/';
  if (release.serverUrl + kRuntimePath != branding::kRuntimeBaseUrl)
    report->warnings.push_back(L"this launcher fetches runtime libraries from " +
                               std::wstring(branding::kRuntimeBaseUrl) +
                               L", not from this server: serve install/runtime/ there too");

  auto jar = ReadWholeFile(request.jarPath);
  if (!jar) return jar.TakeFailure();
  if (jar->empty()) return Invalid(request.jarPath + L": the jar is empty");
  // A jar is a zip archive; anything else (an already scrambled .pak, for one) would
  // reach users as a broken application.
  if (jar->compare(0, 4, std::string("PK\x03\x04", 4)) != 0)
    return Invalid(request.jarPath + L": not a jar (zip) file");
  if (jar->find("zobj/Run.class") == std::string::npos)
    report->warnings.push_back(request.jarPath + L": holds no zobj/Run.class; the launcher will report cod=4");
  release.package = std::move(*jar);
  for (char& c : release.package) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ branding::kJarKey);
  release.md5 = CMD5Checksum::GetMD5(release.package.data(), release.package.size());

  // The libraries, in name order so that the same input always gives the same libs.txt.
  if (request.libsFolder.empty()) return release;
  std::error_code ec;
  fs::directory_iterator it(ToPath(request.libsFolder), ec);
  if (ec) return Invalid(request.libsFolder + L": " + base::Utf8ToWide(ec.message()));
  std::vector<std::pair<std::wstring, fs::path>> files;
  for (const fs::directory_entry& entry : it) {
    if (!entry.is_regular_file()) continue;
    std::wstring name = FromPath(entry.path().filename());
    if (!IsPlainName(name))
      return Invalid(FromPath(entry.path()) + L": a library name may hold only letters, digits and . _ + -");
    files.emplace_back(name, entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& [name, path] : files) {
    auto bytes = ReadWholeFile(FromPath(path));
    if (!bytes) return bytes.TakeFailure();
    release.libraries.emplace_back(std::wstring(kLibFolder) + L"/" + name, std::move(*bytes));
  }
  return release;
}

// The block index of a package (see update/block_index.h): what launchers holding an older
// jar need to fetch only what changed. Nothing, with the reason, when it has none: no whole
// zip archive (which the launcher refuses anyway), or more pieces than a launcher takes.
base::Result<std::string> BlockIndexOf(const std::wstring& path, const std::wstring& md5, const std::string& pak) {
  platform::File file;
  platform::Error err;
  if (!file.Open(path, platform::OpenMode::kReadShared, &err))
    return base::MakeFailure(base::Failure::Kind::kSystem, path + L": " + err.message);
  base::Result<std::vector<block_index::Piece>> pieces = block_index::LayoutPackage(file, branding::kJarKey);
  if (!pieces) return pieces.TakeFailure();
  block_index::Index index;
  index.packageLength = pak.size();
  index.md5 = base::WideToUtf8(md5);
  index.sha256 = platform::Sha256::Of(pak.data(), pak.size());
  index.pieces = std::move(*pieces);
  return block_index::Encode(index);
}

base::Status WriteUnsigned(const Release& release, ServerFolder* server, std::vector<std::wstring>* warnings) {
  std::wstring libsText;
  for (const auto& [entry, bytes] : release.libraries) {
    if (auto put = server->Put(kRuntimePath + entry, bytes); !put) return put;
    if (!libsText.empty()) libsText += L';';
    libsText += entry;
  }
  if (auto put = server->Put(release.folder + release.md5 + L".pak", release.package); !put) return put;
  // Beside it, its block index. It needs no signature: the package a launcher builds with
  // it is checked as a downloaded one.
  const std::wstring pakName = release.folder + release.md5 + L".pak";
  base::Result<std::string> index = BlockIndexOf(server->PathOf(pakName), release.md5, release.package);
  if (index) {
    if (auto put = server->Put(pakName + L".idx", *index); !put) return put;
  } else if (index.failure().kind != base::Failure::Kind::kInvalid) {
    warnings->push_back(L"no block index (" + index.failure().reason +
                        L"): launchers with an older jar download the package whole");
  }
  if (auto put = server->Put(release.folder + L"libs.txt", base::WideToUtf8(libsText)); !put) return put;
  return server->Put(release.folder + L"update.txt", base::WideToUtf8(release.md5));
}

base::Status Apply(const RepositoryChange& change, ServerFolder* server, PublishReport* report) {
  report->warnings.insert(report->warnings.end(), change.warnings.begin(), change.warnings.end());
  for (const auto& [path, bytes] : change.files)
    if (auto put = server->Put(path, bytes); !put) return put;
  // Only what no launcher can take any more goes, and a removal that fails costs nothing.
  for (const std::wstring& path : change.removals) (void)server->Remove(path);
  return {};
}

// The root built into this build's launchers, when it has one.
std::optional<update::tuf::Root> BuiltRoot() {
  if (branding::kUpdateRootSize == 0) return std::nullopt;
  auto root = update::tuf::ParseRoot(
      std::string_view(reinterpret_cast<const char*>(branding::kUpdateRoot), branding::kUpdateRootSize));
  if (!root) return std::nullopt;  // the launchers refuse it too; their own test says so
  return std::move(*root);
}

// What launchers of this build would make of the publish: a build with a root takes only
// the signed channel, and only from a repository whose roots chain from its own.
void WarnForThisBuild(const Repository* repository, PublishReport* report) {
  auto built = BuiltRoot();
  if (!built) return;
  if (repository == nullptr)
    report->warnings.push_back(L"this launcher takes only signed updates: publish with --keys, or its users "
                               L"keep the version they have");
  else if (!repository->Chains(*built))
    report->warnings.push_back(L"this launcher is built with root version " + std::to_wstring(built->doc.version) +
                               L", which is not among this repository's roots: its users keep the version "
                               L"they have (build it with the root.json of these keys)");
}

void Record(const ServerFolder& server, PublishReport* report) {
  report->written = server.written();
  report->unchanged = server.unchanged();
  report->removed = server.removed();
}

// What a run that signs holds from reading the repository to its last write: the server
// folder, its lock (one such run at a time) and the repository read from it. Stays where
// it was made: the repository points at the folder.
class SignedRun {
 public:
  explicit SignedRun(const std::wstring& serverRoot) : server_(ToPath(serverRoot)) {}
  SignedRun(const SignedRun&) = delete;
  SignedRun& operator=(const SignedRun&) = delete;

  base::Status Open(const std::wstring& appFolder, const KeyRing& keys, const SigningRequest& signing) {
    auto lock = server_.Lock(TufFolderOf(appFolder) + kLockFile);
    if (!lock) return lock.TakeFailure();
    lock_ = std::move(*lock);
    auto repository = Repository::Open(server_, TufFolderOf(appFolder), keys, signing.now.value_or(Now()));
    if (!repository) return repository.TakeFailure();
    repository_.emplace(std::move(*repository));
    return {};
  }

  ServerFolder& server() { return server_; }
  const Repository& repository() const { return *repository_; }

 private:
  ServerFolder server_;
  std::optional<platform::File> lock_;
  std::optional<Repository> repository_;
};

}  // namespace

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

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

base::Status Publish(const PublishRequest& request, PublishReport* report) {
  auto release = ReadRelease(request, report);
  if (!release) return release.TakeFailure();
  report->md5 = release->md5;

  // The signed release is made in memory first: a key or repository problem stops the run
  // before anything is written.
  std::optional<KeyRing> keys;  // before the run, whose repository points at it
  SignedRun run(request.serverRoot);
  std::optional<RepositoryChange> change;
  if (request.signing.keyFolders.empty()) {
    WarnForThisBuild(nullptr, report);
  } else {
    auto loaded = LoadKeyFolders(request.signing.keyFolders);
    if (!loaded) return loaded.TakeFailure();
    keys = std::move(*loaded);
    if (auto opened = run.Open(release->folder, *keys, request.signing); !opened) return opened;
    WarnForThisBuild(&run.repository(), report);
    auto made = run.repository().Release({release->jarName, release->package, release->libraries},
                                         request.signing.expiry);
    if (!made) return made.TakeFailure();
    change = std::move(*made);
  }

  base::Status status = WriteUnsigned(*release, &run.server(), &report->warnings);
  if (status && change) status = Apply(*change, &run.server(), report);
  Record(run.server(), report);
  if (!status) return status;
  report->configLine = release->serverUrl + release->folder + release->jarName;
  return {};
}

base::Status Refresh(const std::wstring& serverRoot, const std::wstring& folder,
                     const SigningRequest& signing, PublishReport* report) {
  auto appFolder = AppFolder(folder);
  if (!appFolder) return appFolder.TakeFailure();
  auto keys = LoadKeyFolders(signing.keyFolders);
  if (!keys) return keys.TakeFailure();
  SignedRun run(serverRoot);
  if (auto opened = run.Open(*appFolder, *keys, signing); !opened) return opened;
  auto change = run.repository().Refresh(signing.expiry);
  if (!change) return change.TakeFailure();
  base::Status status = Apply(*change, &run.server(), report);
  Record(run.server(), report);
  return status;
}

base::Status RotateKeys(const std::wstring& serverRoot, const std::wstring& folder,
                        const std::wstring& newKeyFolder, const std::map<Role, int>& thresholds,
                        const SigningRequest& signing, PublishReport* report) {
  auto appFolder = AppFolder(folder);
  if (!appFolder) return appFolder.TakeFailure();
  auto keys = LoadKeyFolders(signing.keyFolders);
  if (!keys) return keys.TakeFailure();
  // The root.json that --new-keys wrote beside new keys is the first root of another set,
  // not a root of this repository: the chain is checked from the other folders' roots.
  std::vector<RootFile> others;
  for (const RootFile& root : keys->roots) {
    std::error_code ec;
    if (!fs::equivalent(ToPath(root.path).parent_path(), ToPath(newKeyFolder), ec))
      others.push_back(root);
  }
  if (!others.empty()) keys->roots = std::move(others);
  auto newKeys = LoadKeyFolders({newKeyFolder});
  if (!newKeys) return newKeys.TakeFailure();
  if (newKeys->keys.empty())
    return Invalid(newKeyFolder + L" holds no key file (root.pem, targets.pem, snapshot.pem, timestamp.pem, "
                                  L"root-2.pem ...): make them with publish --new-keys");
  SignedRun run(serverRoot);
  if (auto opened = run.Open(*appFolder, *keys, signing); !opened) return opened;
  auto change = run.repository().Rotate(*newKeys, thresholds, signing.expiry);
  if (!change) return change.TakeFailure();

  base::Status status = Apply(*change, &run.server(), report);
  Record(run.server(), report);
  if (!status) return status;
  // Beside the new keys once the server has it: a root there that the server lacks would
  // stop every later run (the server's roots would be behind the key folders).
  report->rootPath = FromPath(ToPath(newKeyFolder) / "root.json");
  const std::string rootBytes = MetadataFileBytes(*change->newRoot);
  platform::Error err;
  if (!platform::WriteFileAtomically(report->rootPath, rootBytes.data(), rootBytes.size(), &err))
    return base::MakeFailure(base::Failure::Kind::kSystem,
                             report->rootPath + L": " + err.message +
                                 L" (the server has the new root: copy it there from " +
                                 TufFolderOf(*appFolder) +
                                 std::to_wstring((*change->newRoot)["signed"]["version"].get<std::int64_t>()) +
                                 L".root.json)",
                             err.code);
  return {};
}

}  // namespace publish
