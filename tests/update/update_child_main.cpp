// One update run, as the launcher's worker does it, in a process of its own: for the tests
// that end it from outside in the middle of a download, as a user or the system ends a
// launcher.
//
//   update_child EXECUTABLE_PATH DOCUMENTS RUNTIME_BASE_URL PID_FILE
//
// Writes its process id to PID_FILE first. When the run fails, writes the text the
// launcher's box would show to standard output (UTF-8). Exit status: 0 when the run
// finished with a plan, 1 when it failed, 2 on wrong arguments.
#include <cstdio>
#include <string>
#include <thread>

#include "base/text.h"
#include "launch/launch_state.h"
#include "launch/user_texts.h"
#include "platform/args.h"
#include "platform/atomic_file.h"
#include "platform/http.h"
#include "platform/platform.h"
#include "update/update_worker.h"

int main(int argc, char** argv) {
  std::vector<std::wstring> args = platform::CommandLineArguments(argc, argv);
  if (args.size() != 4) {
    std::fprintf(stderr, "usage: update_child EXECUTABLE_PATH DOCUMENTS RUNTIME_BASE_URL PID_FILE\n");
    return 2;
  }
  platform::InitHttp();
  std::string pid = std::to_string(platform::ProcessId());
  if (!platform::WriteFileAtomically(args[3], pid.data(), pid.size())) return 2;

  UpdateSettings settings;
  settings.executablePath = args[0];
  settings.documentsFolder = args[1];
  settings.runtimeBaseUrl = args[2];
  LaunchState state;
  std::thread worker([&] { RunUpdateAndPublish(settings, state); });
  worker.join();
  if (std::optional<UpdateFailure> failure = state.Failure()) {
    platform::WriteStdout(base::WideToUtf8(user_texts::ForUpdateFailure(*failure)) + "\n");
    return 1;
  }
  return 0;
}
