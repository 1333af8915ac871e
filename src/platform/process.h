// Starting another program and waiting for it: used by the tests and tools that must run
// a case in a process of its own (a Java VM can be created only once per process).
#pragma once

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

}  // namespace platform
