// Starting another program and waiting for it: used by the tests and tools that must run
// a case in a process of its own (a Java VM can be created only once per process).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

struct ProgramRun {
  std::wstring program;            // full path
  std::vector<std::wstring> args;  // without the program itself
  std::wstring workingDir;         // empty: the current one
  std::wstring stdoutPath;         // file that receives standard output; empty: inherited
  std::vector<std::wstring> environment;  // "NAME=value" entries added to (or replacing in)
                                          // this process's environment
};

// Runs the program and waits for it. Returns its exit code, or -1 with *err set when it
// could not be started.
int RunProgram(const ProgramRun& run, Error* err = nullptr);

// Ends the process with that id at once, as the task manager or `kill -9` ends it: no code
// of it runs any more, nothing is flushed. False when there is no such process or it may
// not be ended.
bool EndProcess(unsigned long pid);

// The most memory this process has held in RAM at one time since it started (peak working
// set / resident set), in bytes; 0 when the system does not say.
std::uint64_t PeakMemoryBytes();

}  // namespace platform
