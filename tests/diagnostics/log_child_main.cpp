// One launcher's run as t.log sees it, in a process of its own: for the test of two
// launchers that write one t.log at once.
//
//   log_child LOG_PATH TAG COUNT GO_FILE
//
// Writes "TAG start", waits until GO_FILE exists (at most 60 s), then writes COUNT lines
// "TAG <n> <padding>" as fast as it can. Exit status 0, or 2 on wrong arguments.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "diagnostics/log.h"
#include "platform/args.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  std::vector<std::wstring> args = platform::CommandLineArguments(argc, argv);
  if (args.size() != 4) {
    std::fprintf(stderr, "usage: log_child LOG_PATH TAG COUNT GO_FILE\n");
    return 2;
  }
  Log log(0x5C);
  log.StartAt(args[0]);
  log.Write(L"%s start", args[1]);
  for (int i = 0; i < 6000 && !platform::FileExists(args[3]); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const int count = std::stoi(args[2]);
  const std::wstring padding(200, L'x');
  for (int i = 0; i < count; ++i) log.Write(L"%s %d %s", args[1], i, padding);
  return 0;
}
