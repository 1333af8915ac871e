// The launcher's download and update run, for bench/run to time and count.
//
//   update_bench fetch URL            fetches URL as the launcher fetches a package
//   update_bench update RUNTIME_BASE  one update run, as the launcher's worker does it,
//                                     with Config.ini and the Java runtime beside this
//                                     program; prints the error text, if any
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/http.h"
#include "platform/platform.h"
#include "shell/launch_state.h"
#include "update/fetch_buffer.h"
#include "update/runtime_libs.h"
#include "update/update_worker.h"

int main(int argc, char** argv) {
  platform::InitHttp();
  if (argc == 3 && std::strcmp(argv[1], "fetch") == 0) {
    FetchBuffer buffer;
    if (!buffer.HttpFetch(platform::Utf8ToWide(argv[2]).c_str())) return 1;
    std::printf("%zu\n", buffer.length);
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "update") == 0) {
    SetRuntimeBaseUrlForTesting(platform::Utf8ToWide(argv[2]));
    auto state = LaunchState::Create();
    std::thread worker(UpdateThreadProc, nullptr);
    worker.join();
    std::string error = platform::WideToUtf8(state->GetErrorText());
    if (!error.empty()) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    return state->Progress() == 100 ? 0 : 1;
  }
  std::fprintf(stderr, "usage: update_bench fetch URL | update RUNTIME_BASE_URL\n");
  return 2;
}
