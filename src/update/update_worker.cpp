#include "update/update_worker.h"

#include <chrono>
#include <memory>
#include <optional>

#include "branding.h"
#include "diagnostics/log.h"
#include "diagnostics/program_version.h"
#include "javahost/runtime_location.h"
#include "platform/atomic_file.h"
#include "platform/platform.h"
#include "update/config_file.h"
#include "update/differential.h"
#include "update/fetch_buffer.h"
#include "update/file_hash_cache.h"
#include "update/package.h"
#include "update/runtime_libs.h"
#include "update/signed_release.h"
#include "update/update_lock.h"
#include "update/working_folder.h"

namespace {

// While the package downloads, the progress climbs from 70 toward 90 with its bytes, so that
// the bar keeps moving on a slow line; it never goes back (a download started again from
// its first byte) and reaches 90 only once the package is verified.
// Its copies share what was shown: a differential update and then the full download move
// the one bar.
DownloadProgress PackageProgress(LaunchState& state) {
  return [&state, shown = std::make_shared<int>(70)](std::int64_t held, std::int64_t total) {
    if (total <= 0 || held < 0) return;
    int value = 70 + static_cast<int>((held < total ? held : total) * 20 / total);
    if (value > 89) value = 89;
    if (value <= *shown) return;
    *shown = value;
    state.SetProgress(value);
  };
}

}  // namespace

UpdateSettings UpdateSettings::ForThisProcess() {
  return UpdateSettings{platform::ExecutablePath(), platform::DocumentsFolder(), branding::kRuntimeBaseUrl,
                        std::string(reinterpret_cast<const char*>(branding::kUpdateRoot), branding::kUpdateRootSize), {}};
}

std::variant<LaunchPlan, UpdateFailure> RunUpdate(const UpdateSettings& settings, LaunchState& state) {
  LaunchPlan plan;
  plan.executablePath = settings.executablePath;

  std::optional<std::wstring> workingFolder =
      PrepareWorkingFolder(settings.documentsFolder, settings.executablePath);
  if (!workingFolder) return UpdateFailure::kWorkingFolder;
  plan.workingFolder = *workingFolder;
  theLog.StartAt(platform::JoinPath(plan.workingFolder, L"t.log"));

  theLog.Write(L"curr version: %s", ProgramVersionText());
  const bool signedMode = !settings.updateRoot.empty();
  if (!signedMode) theLog.Write(L"updates are not signed");
  std::optional<std::wstring> runtime = FindRuntimeLibrary(settings.executablePath);
  if (!runtime) return UpdateFailure::kJavaRuntime;
  plan.runtimeLibrary = *runtime;
  state.SetProgress(10);

  std::variant<std::wstring, UpdateFailure> line = ReadConfigLine(ConfigFilePath(settings.executablePath));
  if (auto* failure = std::get_if<UpdateFailure>(&line)) return *failure;
  ServerLocations server = LocationsFromConfigLine(std::get<std::wstring>(line));
  plan.storedJar = platform::JoinPath(plan.workingFolder, server.jarName);
  state.SetProgress(20);

  // From here to the end of the run this launcher alone changes the working folder: a
  // second one started meanwhile waits, then finds what this run leaves.
  WorkingFolderLock folderLock(plan.workingFolder);

  if (signedMode) {
    const std::int64_t now = settings.clock ? settings.clock()
                                            : std::chrono::duration_cast<std::chrono::seconds>(
                                                  std::chrono::system_clock::now().time_since_epoch())
                                                  .count();
    return RunSignedUpdate(settings.updateRoot, now, server, std::move(plan), state, PackageProgress(state));
  }

  std::wstring localMd5 = server.jarName.empty() ? std::wstring() : LocalJarMd5(plan.storedJar);
  plan.libraries = SyncRuntimeLibs(server.libsUrl, settings.runtimeBaseUrl, plan.workingFolder);
  state.SetProgress(50);

  FetchBuffer buffer;
  if (!buffer.Fetch(server.versionUrl)) return UpdateFailure::kVersionFile;
  std::wstring serverMd5 = VersionText(buffer);
  if (!IsVersionText(serverMd5)) {
    // A page sent in its place can be long: the start is enough to recognise it.
    theLog.Write(L"invalid version text: %s", serverMd5.substr(0, 64));
    return UpdateFailure::kVersionFile;
  }
  state.SetProgress(70);

  // An empty update.txt publishes nothing: the jar that is there, if any, is launched.
  if (serverMd5.empty() || localMd5 == serverMd5) {
    RemovePartialPackages(plan.workingFolder, L"");
    return plan;
  }

  RemovePartialPackages(plan.workingFolder, serverMd5);
  const DownloadProgress progress = PackageProgress(state);
  // An older jar: only what changed, when the server's index and Range answers allow;
  // otherwise (and after any failure of it) the whole package.
  std::optional<DownloadedFile> package;
  if (!localMd5.empty())
    package = FetchPackageDifferentially(plan.storedJar, server.PackageUrl(serverMd5), plan.workingFolder, serverMd5,
                                         progress);
  if (!package) package = FetchPackage(server.PackageUrl(serverMd5), plan.workingFolder, serverMd5, progress);
  if (!package) return UpdateFailure::kPackageDownload;
  // Bytes that hash right but are no jar (an empty file, another key) must not replace one.
  if (!IsUsablePackage(*package)) {
    Discard(*package);
    return UpdateFailure::kPackageDownload;
  }
  state.SetProgress(90);

  // The new jar takes the old one's place in one step: a kill or a power cut at any
  // moment leaves one of the two whole, and a jar that cannot be replaced stays as it was
  // (the verified package stays too, for the next run to install without a download).
  platform::Error err;
  if (!PutInPlace(*package, plan.storedJar, &err)) {
    LogException(err);
    return UpdateFailure::kJarWrite;
  }
  // Its MD5 is known from the download: the next start need not read the new jar for it.
  RememberFileMd5(plan.storedJar, package->md5);
  return plan;
}

void RunUpdateAndPublish(const UpdateSettings& settings, LaunchState& state) {
  std::variant<LaunchPlan, UpdateFailure> result = RunUpdate(settings, state);
  if (auto* failure = std::get_if<UpdateFailure>(&result)) state.Fail(*failure);
  else state.Finish(std::move(std::get<LaunchPlan>(result)));
}
