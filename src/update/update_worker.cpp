#include "update/update_worker.h"

#include <optional>

#include "branding.h"
#include "diagnostics/log.h"
#include "diagnostics/program_version.h"
#include "javahost/runtime_location.h"
#include "platform/atomic_file.h"
#include "platform/platform.h"
#include "update/config_file.h"
#include "update/fetch_buffer.h"
#include "update/package.h"
#include "update/runtime_libs.h"
#include "update/working_folder.h"

UpdateSettings UpdateSettings::ForThisProcess() {
  return UpdateSettings{platform::ExecutablePath(), platform::DocumentsFolder(), branding::kRuntimeBaseUrl};
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
  std::optional<std::wstring> runtime = FindRuntimeLibrary(settings.executablePath);
  if (!runtime) return UpdateFailure::kJavaRuntime;
  plan.runtimeLibrary = *runtime;
  state.SetProgress(10);

  std::optional<std::wstring> line = ReadConfigLine(ConfigFilePath(settings.executablePath));
  if (!line) return UpdateFailure::kConfigFile;
  ServerLocations server = LocationsFromConfigLine(*line);
  plan.storedJar = platform::JoinPath(plan.workingFolder, server.jarName);
  state.SetProgress(20);

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

  if (localMd5 == serverMd5) return plan;

  if (!FetchPackage(buffer, server.PackageUrl(serverMd5), serverMd5)) return UpdateFailure::kPackageDownload;
  state.SetProgress(90);

  // The new jar takes the old one's place in one step: a kill or a power cut at any
  // moment leaves one of the two whole, and a jar that cannot be replaced stays as it was.
  platform::Error err;
  if (!platform::WriteFileAtomically(plan.storedJar, buffer.data.get(), buffer.length, &err)) {
    LogException(err);
    return UpdateFailure::kJarWrite;
  }
  return plan;
}

void RunUpdateAndPublish(const UpdateSettings& settings, LaunchState& state) {
  std::variant<LaunchPlan, UpdateFailure> result = RunUpdate(settings, state);
  if (auto* failure = std::get_if<UpdateFailure>(&result)) state.Fail(*failure);
  else state.Finish(std::move(std::get<LaunchPlan>(result)));
}
