// A launcher installation built with a TUF root, for the tests of signed mode: an
// installation folder with Config.ini and a stand-in runtime (the update only checks that
// the runtime library is there), a Documents folder of its own, and the update run on a
// thread of its own as in the launcher. Nothing may come from the runtime-library base URL
// in signed mode: it points at a folder the server does not have.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "branding.h"
#include "diagnostics/log.h"
#include "platform/jvm_environment.h"
#include "launch/launch_state.h"
#include "platform/platform.h"
#include "support/http_server.h"
#include "support/test_support.h"
#include "update/update_worker.h"
#include "update/working_folder.h"

namespace tuf_testing {

inline constexpr char kNoRuntimeLibraries[] = "/no-runtime-libraries/";

class Installation {
 public:
  // `root`: the bytes of the root.json the launcher is built with.
  explicit Installation(const std::string& root)
      : exeDir(install / "Tools"), workDir(documents / WorkingFolderName((exeDir / "Launcher.exe").wstring())) {
    std::filesystem::create_directories(exeDir);
    settings.executablePath = (exeDir / "Launcher.exe").wstring();
    settings.documentsFolder = documents.WPath();
    settings.runtimeBaseUrl = testing_support::TestHttpServer::Get().Url(kNoRuntimeLibraries);
    settings.updateRoot = root;
    std::filesystem::path jvm = exeDir / std::filesystem::path(platform::RuntimeLibraryCandidates().front());
    std::filesystem::create_directories(jvm.parent_path());
    testing_support::WriteBytes(jvm, "stand-in runtime library");
  }
  // Windows cannot remove a folder that holds an open t.log.
  ~Installation() { theLog.StartAt(L""); }

  // One start against the Config.ini line `configUrl`, with the clock at `now` (seconds
  // since 1970 UTC; nothing: the system's clock). Returns the t.log lines it wrote.
  std::vector<std::string> Run(const std::wstring& configUrl, std::optional<std::int64_t> now = std::nullopt) {
    testing_support::WriteBytes(exeDir / "Config.ini", base::WideToUtf8(configUrl) + "\r\n");
    settings.clock = {};
    if (now) settings.clock = [at = *now] { return at; };
    state = std::make_unique<LaunchState>();
    std::thread worker([this] { RunUpdateAndPublish(settings, *state); });
    worker.join();
    return LogLines();
  }

  // The messages of t.log, without their times.
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    for (const std::string& line : testing_support::DecodeLogLines(workDir / "t.log", branding::kLogKey)) {
      size_t close = line.find(']');
      lines.push_back(close == std::string::npos ? line : line.substr(close + 1));
    }
    return lines;
  }

  // The stored jar's bytes; empty when there is none.
  std::string Jar() const {
    return std::filesystem::is_regular_file(workDir / "main.jar") ? testing_support::ReadBytes(workDir / "main.jar")
                                                                  : "";
  }

  testing_support::TempDir install;
  testing_support::TempDir documents;
  std::filesystem::path exeDir;
  std::filesystem::path workDir;
  UpdateSettings settings;
  std::unique_ptr<LaunchState> state;
};

}  // namespace tuf_testing
