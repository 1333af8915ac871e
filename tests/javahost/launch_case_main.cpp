// One launch of the Java application, the way the launcher makes it after an update run,
// in a process of its own: a Java VM can be created only once in a process.
//
// Reads "launch-case.txt" (UTF-8) in the current folder: the VM library's path (an empty
// line: the runtime beside this program, as the update run finds it), the stored jar's
// name and the libraries (class-path separators between them), one a line. The current
// folder plays the working folder: the plan names the jar and the libraries in it, and
// t.log goes there. Exits with RunJavaApplication's result after writing
// "launch-result.txt": the result, the current folder once the call has returned, the
// local application data folder that the temporary jar goes to and the most memory the
// process has held.
#include <fstream>
#include <sstream>
#include <string>

#include "base/text.h"
#include "diagnostics/log.h"
#include "javahost/java_launch.h"
#include "javahost/runtime_location.h"
#include "platform/platform.h"
#include "platform/process.h"

int main() {
  std::ifstream in("launch-case.txt", std::ios::binary);
  std::string jvmLine, jarLine, libLine;
  std::getline(in, jvmLine);
  std::getline(in, jarLine);
  std::getline(in, libLine);

  LaunchPlan plan;
  plan.executablePath = platform::ExecutablePath();
  plan.workingFolder = platform::CurrentDirectory();
  theLog.StartAt(platform::JoinPath(plan.workingFolder, L"t.log"));
  plan.runtimeLibrary = base::Utf8ToWide(jvmLine);
  if (plan.runtimeLibrary.empty()) {
    std::optional<std::wstring> found = FindRuntimeLibrary(plan.executablePath);
    if (!found) return 100;
    plan.runtimeLibrary = *found;
  }
  std::wstring jar = base::Utf8ToWide(jarLine);
  if (!jar.empty()) plan.storedJar = platform::JoinPath(plan.workingFolder, jar);
  std::wstring libs = base::Utf8ToWide(libLine);
  for (std::size_t start = 0; !libs.empty() && start <= libs.size();) {
    std::size_t end = libs.find(platform::kClassPathSeparator, start);
    if (end == std::wstring::npos) end = libs.size();
    plan.libraries.push_back(platform::JoinPath(plan.workingFolder, libs.substr(start, end - start)));
    start = end + 1;
  }

  int code = static_cast<int>(RunJavaApplication(plan));
  std::ostringstream result;
  result << "code=" << code << "\ncwd=" << base::WideToUtf8(platform::CurrentDirectory())
         << "\nappdata=" << base::WideToUtf8(platform::LocalAppDataFolder())
         << "\npeakmemory=" << platform::PeakMemoryBytes() << "\n";
  std::ofstream(base::WideToUtf8(platform::JoinPath(plan.workingFolder, L"launch-result.txt")),
                std::ios::binary)
      << result.str();
  return code;
}
