// The steps of RunJavaApplication, open to the tests.
#pragma once

#include <string>
#include <vector>

#include "launch/outcomes.h"
#include "platform/dynlib.h"

namespace javahost {

// The runtime's folder in which the libraries its VM library depends on are found: the
// path cut at its second separator from the end (java\bin\client\jvm.dll -> java\bin).
// The whole path when it has fewer than two.
std::wstring JvmLoadFolder(const std::wstring& jvmPath);
// Loads the VM library, its dependencies found in JvmLoadFolder, without touching the
// process's current directory. Not loaded on failure, with *err set.
platform::DynamicLibrary LoadJvmLibrary(const std::wstring& jvmPath, platform::Error* err);

struct JvmOptions {
  std::wstring classPathOption;      // as logged: "-Djava.class.path=<entries>"
  std::vector<std::string> options;  // as passed to the VM, in order
};
// The VM's options from the build's list, with the class path made of the entries (each
// converted on its own), at whatever length.
JvmOptions BuildJvmOptions(const std::vector<std::wstring>& classPath);

// Loads the VM, creates it with the class path and runs zobj.Run.runWithPath(argument).
LaunchResult RunJavaMain(const std::wstring& jvmPath, const std::vector<std::wstring>& classPath,
                         const std::wstring& argument);

}  // namespace javahost
