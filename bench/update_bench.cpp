// The launcher's download and update run, for bench/run to time and count.
//
//   update_bench fetch URL            fetches URL as the launcher fetches a package
//   update_bench update RUNTIME_BASE  one update run, as the launcher's worker does it,
//                                     with Config.ini and the Java runtime beside this
//                                     program; prints the error text, if any
#include <cstdio>
#include <cstring>
#include <thread>

#include "launch/launch_state.h"
#include "launch/user_texts.h"
#include "platform/http.h"
#include "platform/platform.h"
#include "update/fetch_buffer.h"
#include "update/update_worker.h"

int main(int argc, char** argv) {
  platform::InitHttp();
  if (argc == 3 && std::strcmp(argv[1], "fetch") == 0) {
    FetchBuffer buffer;
    if (!buffer.Fetch(platform::Utf8ToWide(argv[2]))) return 1;
    std::printf("%zu\n", buffer.length);
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "update") == 0) {
    UpdateSettings settings = UpdateSettings::ForThisProcess();
    settings.runtimeBaseUrl = platform::Utf8ToWide(argv[2]);
    LaunchState state;
    std::thread worker([&] { RunUpdateAndPublish(settings, state); });
    worker.join();
    if (std::optional<UpdateFailure> failure = state.Failure()) {
      std::fprintf(stderr, "%s\n", platform::WideToUtf8(user_texts::ForUpdateFailure(*failure)).c_str());
      return 1;
    }
    return state.Progress() == 100 ? 0 : 1;
  }
  std::fprintf(stderr, "usage: update_bench fetch URL | update RUNTIME_BASE_URL\n");
  return 2;
}
