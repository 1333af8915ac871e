#include "update/signed_release.h"

#include <algorithm>
#include <map>
#include <optional>

#include "base/der_pem.h"
#include "base/text.h"
#include "diagnostics/log.h"
#include "platform/atomic_file.h"
#include "platform/platform.h"
#include "update/file_hash_cache.h"
#include "update/package.h"
#include "update/runtime_libs.h"
#include "update/tuf/updater.h"

namespace {

namespace tuf = update::tuf;

const char kLibraryPrefix[] = "libs/";

base::Failure Refused(std::wstring reason) {
  return base::MakeFailure(base::Failure::Kind::kRefused, std::move(reason));
}

// The trusted metadata's own folder: a library stored there could stand in for it.
bool LiesInTrustedMetadataFolder(const std::wstring& entry) {
  std::wstring first = base::AsciiLower(entry.substr(0, entry.find(L'/')));
  return first == kTrustedMetadataFolder;
}

std::wstring Hex(const platform::Sha256Digest& digest) {
  return base::Utf8ToWide(base::HexLower(digest.data(), digest.size()));
}

// The download's own check of a target: its signed length and SHA-256. Wrong bytes are
// logged and noted in *refused, so that the run can tell them from a line that broke.
DownloadOptions TargetDownload(const SignedRelease::File& file, const std::wstring& url, bool* refused) {
  DownloadOptions options;
  options.maxLength = file.target.length;
  const std::wstring sha256 = base::Utf8ToWide(file.target.sha256);
  options.verify = [=](const DownloadedFile& got) {
    if (got.length == file.target.length && got.sha256Ok && Hex(got.sha256) == sha256) return true;
    theLog.Write(L"signed file refused: %s from:%s (%d bytes, sha256 %s; signed: %d bytes, sha256 %s)",
                 base::Utf8ToWide(file.targetPath), url, got.length, Hex(got.sha256), file.target.length, sha256);
    if (refused) *refused = true;
    return false;
  };
  return options;
}

bool HasJar(const std::wstring& path) {
  platform::File file;
  return file.Open(path, platform::OpenMode::kReadShared) && file.Length() > 0;
}

std::vector<std::wstring> ClassPathOf(const SignedRelease& release, const std::wstring& workingFolder) {
  std::vector<std::wstring> paths;
  for (const SignedRelease::Library& library : release.libraries)
    paths.push_back(LibraryPath(workingFolder, library.entry));
  return paths;
}

// What was installed last: the package's SHA-256 and the libraries of its release, in
// class-path order, kept beside the trusted metadata ("installed.json"), where no download
// can write. A later run that installs nothing starts that jar with those libraries, even
// when the metadata it trusts by then names another release.
const wchar_t kInstalledRecord[] = L"installed.json";

std::wstring InstalledRecordPath(const std::wstring& workingFolder) {
  return platform::JoinPath(platform::JoinPath(workingFolder, kTrustedMetadataFolder), kInstalledRecord);
}

void RememberInstalled(const SignedRelease& release, const std::wstring& workingFolder) {
  nlohmann::json record = {{"package", release.package.target.sha256}, {"libraries", nlohmann::json::array()}};
  for (const SignedRelease::Library& library : release.libraries)
    record["libraries"].push_back(base::WideToUtf8(library.entry));
  const std::string bytes = record.dump();
  const std::wstring path = InstalledRecordPath(workingFolder);
  std::string before;
  if (platform::ReadWholeFile(path, 1 << 20, &before) && before == bytes) return;
  platform::MakeDirectories(platform::FolderOf(path));
  platform::Error err;
  if (!platform::WriteFileAtomically(path, bytes.data(), bytes.size(), &err)) LogException(err);
}

// The class path that the record keeps for the jar with that SHA-256; nothing when the
// record is of another jar, or none.
std::optional<std::vector<std::wstring>> RememberedClassPath(const std::wstring& workingFolder,
                                                             const std::wstring& jarSha256) {
  std::string bytes;
  if (!platform::ReadWholeFile(InstalledRecordPath(workingFolder), 1 << 20, &bytes)) return std::nullopt;
  nlohmann::json record = nlohmann::json::parse(bytes, nullptr, false);
  if (!record.is_object() || !record.contains("package") || !record["package"].is_string() ||
      base::Utf8ToWide(record["package"].get<std::string>()) != jarSha256 || !record.contains("libraries") ||
      !record["libraries"].is_array())
    return std::nullopt;
  std::vector<std::wstring> paths;
  for (const nlohmann::json& entry : record["libraries"]) {
    if (!entry.is_string()) return std::nullopt;
    const std::wstring wide = base::Utf8ToWide(entry.get<std::string>());
    if (!IsSafeLibEntry(wide) || LiesInTrustedMetadataFolder(wide)) return std::nullopt;
    paths.push_back(LibraryPath(workingFolder, wide));
  }
  return paths;
}

// The run installs nothing: the jar that is there starts, with the libraries of the
// release it belongs to: as last installed, else of a verified release whose package it
// is, else of the last one this client verified.
std::variant<LaunchPlan, UpdateFailure> StartInstalled(LaunchPlan plan, const std::wstring& jarName,
                                                       std::initializer_list<const tuf::Targets*> known,
                                                       UpdateFailure withoutJar) {
  if (!HasJar(plan.storedJar)) return withoutJar;
  const std::wstring installed = FileSha256(plan.storedJar);
  theLog.Write(L"start installed jar: %s", plan.storedJar);
  if (std::optional<std::vector<std::wstring>> remembered = RememberedClassPath(plan.workingFolder, installed)) {
    plan.libraries = std::move(*remembered);
    return plan;
  }
  std::optional<SignedRelease> chosen;
  for (const tuf::Targets* targets : known) {
    if (!targets) continue;
    base::Result<SignedRelease> release = ReleaseOf(*targets, jarName);
    if (!release) continue;
    if (base::Utf8ToWide(release->package.target.sha256) == installed) {
      chosen = std::move(*release);
      break;
    }
    if (!chosen) chosen = std::move(*release);
  }
  if (chosen) plan.libraries = ClassPathOf(*chosen, plan.workingFolder);
  return plan;
}

void StoreLibraries(const SignedRelease& release, const std::wstring& targetsUrl, bool consistent,
                    const std::wstring& workingFolder) {
  for (const std::wstring& entry : release.unsafeEntries) {
    // The trusted metadata is no library's to replace, and no file of it goes.
    if (LiesInTrustedMetadataFolder(entry)) theLog.Write(L"skip unsafe lib entry: %s", entry);
    else DropUnsafeLibEntry(entry, workingFolder);
  }
  std::wstring libText;
  for (const SignedRelease::Library& library : release.libraries) {
    if (!libText.empty()) libText += L';';
    libText += library.entry;
  }
  theLog.Write(L"set lib text:%s", libText);
  for (const SignedRelease::Library& library : release.libraries) {
    const std::wstring url = tuf::TargetUrl(targetsUrl, library.file.targetPath, library.file.target, consistent);
    InstallMissingLibrary(library.entry, url, workingFolder, TargetDownload(library.file, url, nullptr));
  }
}

}  // namespace

base::Result<SignedRelease> ReleaseOf(const tuf::Targets& targets, const std::wstring& jarName) {
  SignedRelease release;
  const std::string packagePath = base::WideToUtf8(jarName);
  auto package = targets.targets.find(packagePath);
  if (jarName.empty() || package == targets.targets.end())
    return Refused(L"the release has no target " + jarName);
  release.package = {packagePath, package->second};

  std::map<std::int64_t, SignedRelease::Library> byIndex;
  for (const auto& [path, target] : targets.targets) {
    if (path.compare(0, sizeof kLibraryPrefix - 1, kLibraryPrefix) != 0) continue;
    const std::wstring entry = base::Utf8ToWide(path.substr(sizeof kLibraryPrefix - 1));
    const nlohmann::json* index = nullptr;
    if (target.custom.is_object()) {
      auto it = target.custom.find("class_path_index");
      if (it != target.custom.end()) index = &*it;
    }
    if (!index || !index->is_number_integer() || index->get<std::int64_t>() < 0)
      return Refused(L"library target " + base::Utf8ToWide(path) + L" has no class_path_index");
    const std::int64_t at = index->get<std::int64_t>();
    if (byIndex.count(at)) return Refused(L"two library targets have class_path_index " + std::to_wstring(at));
    if (!IsSafeLibEntry(entry) || LiesInTrustedMetadataFolder(entry)) {
      release.unsafeEntries.push_back(entry);
      continue;
    }
    byIndex.emplace(at, SignedRelease::Library{entry, {path, target}});
  }
  for (auto& [at, library] : byIndex) release.libraries.push_back(std::move(library));
  return release;
}

std::variant<LaunchPlan, UpdateFailure> RunSignedUpdate(const std::string& builtInRoot, std::int64_t now,
                                                        const ServerLocations& server, LaunchPlan plan,
                                                        LaunchState& state, const DownloadProgress& packageProgress) {
  const std::wstring folderUrl = server.mainUrl.substr(0, server.mainUrl.size() - server.jarName.size());
  const std::wstring metadataUrl = folderUrl + L"tuf/";
  const std::wstring targetsUrl = metadataUrl + L"targets/";

  tuf::RefreshResult refreshed = tuf::Refresh(builtInRoot, metadataUrl,
                                              platform::JoinPath(plan.workingFolder, kTrustedMetadataFolder), now);
  for (const std::wstring& note : refreshed.notes) theLog.Write(L"%s", note);
  state.SetProgress(50);
  const tuf::Targets* lastTrusted = refreshed.lastTrusted ? &*refreshed.lastTrusted : nullptr;
  if (refreshed.problem != tuf::RefreshResult::Problem::kNone) {
    theLog.Write(L"%s", refreshed.reason);
    return StartInstalled(std::move(plan), server.jarName, {lastTrusted}, UpdateFailure::kVersionFile);
  }
  const tuf::Targets& current = *refreshed.release;
  base::Result<SignedRelease> release = ReleaseOf(current, server.jarName);
  if (!release) {
    theLog.Write(L"update metadata refused: %s", release.failure().reason);
    return StartInstalled(std::move(plan), server.jarName, {lastTrusted}, UpdateFailure::kVersionFile);
  }

  StoreLibraries(*release, targetsUrl, refreshed.consistentSnapshot, plan.workingFolder);
  plan.libraries = ClassPathOf(*release, plan.workingFolder);
  state.SetProgress(70);

  const SignedRelease::File& package = release->package;
  const std::wstring sha256 = base::Utf8ToWide(package.target.sha256);
  if (HasJar(plan.storedJar) && FileSha256(plan.storedJar) == sha256) {
    RemovePartialPackages(plan.workingFolder, L"");
    RememberInstalled(*release, plan.workingFolder);
    return plan;
  }

  RemovePartialPackages(plan.workingFolder, sha256);
  const std::wstring url = tuf::TargetUrl(targetsUrl, package.targetPath, package.target, refreshed.consistentSnapshot);
  bool wrongBytes = false;
  DownloadOptions options = TargetDownload(package, url, &wrongBytes);
  options.onProgress = packageProgress;
  std::optional<DownloadedFile> downloaded =
      DownloadResumable(url, PartialPackagePath(plan.workingFolder, sha256), options);
  if (!downloaded) {
    // Bytes other than the signed ones are an attack or a broken mirror: what is installed
    // still starts. A line that broke is the download error it always was.
    if (wrongBytes) return StartInstalled(std::move(plan), server.jarName, {&current, lastTrusted},
                                          UpdateFailure::kSignature);
    return UpdateFailure::kPackageDownload;
  }
  // Signed bytes that are no jar (the vendor's mistake, another jar key) replace none.
  if (!IsUsablePackage(*downloaded)) {
    Discard(*downloaded);
    return StartInstalled(std::move(plan), server.jarName, {lastTrusted, &current}, UpdateFailure::kPackageDownload);
  }
  state.SetProgress(90);

  platform::Error err;
  if (!PutInPlace(*downloaded, plan.storedJar, &err)) {
    LogException(err);
    return UpdateFailure::kJarWrite;
  }
  RememberFileDigests(plan.storedJar, downloaded->md5, Hex(downloaded->sha256));
  RememberInstalled(*release, plan.workingFolder);
  theLog.Write(L"install signed release: targets version %d", current.doc.version);
  return plan;
}
