// What one launch runs, as the update run leaves it: everything the Java host needs and
// nothing it has to look up elsewhere. Every path is absolute.
#pragma once

#include <string>
#include <vector>

struct LaunchPlan {
  std::wstring executablePath;   // the launcher itself: the Java entry's argument
  std::wstring workingFolder;    // the per-user folder under Documents; current during the run
  std::wstring runtimeLibrary;   // the private runtime's VM library (jvm.dll, libjvm.so)
  std::wstring storedJar;        // the scrambled main jar in the working folder
  std::vector<std::wstring> libraries;  // the runtime libraries' files, in libs.txt order
};
