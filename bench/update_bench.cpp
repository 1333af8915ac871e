// The launcher's download and update run, for bench/run to time, count and measure.
//
//   update_bench fetch URL FILE       downloads URL into FILE as the launcher downloads a
//                                     package (streamed to the disk, both digests on the
//                                     way, flushed); prints the length and the MD5
//   update_bench update RUNTIME_BASE [ROOT]
//                                     one update run, as the launcher's worker does it,
//                                     with Config.ini and the Java runtime beside this
//                                     program; prints the error text, if any, and then
//                                     the process's peak memory in bytes (its own high-water
//                                     mark: what a parent's wait4 reports also counts the
//                                     parent's memory at the moment it forked); with ROOT
//                                     (a TUF root.json) as a launcher built with that root
#include <cstdio>
#include <cstring>
#include <thread>

#include "base/text.h"
#include "launch/launch_state.h"
#include "launch/user_texts.h"
#include "platform/http.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "update/download.h"
#include "update/update_worker.h"

int main(int argc, char** argv) {
  platform::InitHttp();
  if (argc == 4 && std::strcmp(argv[1], "fetch") == 0) {
    std::wstring file = base::Utf8ToWide(argv[3]);
    platform::RemoveFile(file);
    std::optional<DownloadedFile> got = DownloadResumable(base::Utf8ToWide(argv[2]), file);
    if (!got) return 1;
    std::printf("%lld %s\n", static_cast<long long>(got->length), base::WideToUtf8(got->md5).c_str());
    return 0;
  }
  if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "update") == 0) {
    UpdateSettings settings = UpdateSettings::ForThisProcess();
    settings.runtimeBaseUrl = base::Utf8ToWide(argv[2]);
    if (argc == 4) {
      platform::Error err;
      if (!platform::ReadWholeFile(base::Utf8ToWide(argv[3]), 512 * 1024, &settings.updateRoot, &err)) {
        std::fprintf(stderr, "%s\n", base::WideToUtf8(err.message).c_str());
        return 2;
      }
    }
    LaunchState state;
    std::thread worker([&] { RunUpdateAndPublish(settings, state); });
    worker.join();
    std::printf("%llu\n", static_cast<unsigned long long>(platform::PeakMemoryBytes()));
    if (std::optional<UpdateFailure> failure = state.Failure()) {
      std::fprintf(stderr, "%s\n", base::WideToUtf8(user_texts::ForUpdateFailure(*failure)).c_str());
      return 1;
    }
    return state.Progress() == 100 ? 0 : 1;
  }
  std::fprintf(stderr, "usage: update_bench fetch URL FILE | update RUNTIME_BASE_URL [ROOT_JSON]\n");
  return 2;
}
