// One launch of the Java application, the way the launcher window makes it, in a process of
// its own: a Java VM can be created only once in a process.
//
// Reads "launch-case.txt" (UTF-8) in the current folder: the VM library's path (an empty
// line: the runtime beside this program, as the launcher finds it), the stored jar's name
// and the library text, one a line. Exits with CreateJarAndRun's result after writing
// "launch-result.txt": the result, the current folder once the call has returned and the
// local application data folder that the temporary jar goes to.
#include <fstream>
#include <sstream>
#include <string>

#include "javahost/java_launch.h"
#include "javahost/jvm_location.h"
#include "platform/platform.h"

int main() {
  std::ifstream in("launch-case.txt", std::ios::binary);
  std::string jvmLine, jarLine, libLine;
  std::getline(in, jvmLine);
  std::getline(in, jarLine);
  std::getline(in, libLine);
  std::wstring jvm = platform::Utf8ToWide(jvmLine);
  if (jvm.empty()) {
    const wchar_t* found = FindJvmPath();
    if (found == nullptr) return 100;
    jvm = found;
  }
  int code = CreateJarAndRun(jvm.c_str(), platform::Utf8ToWide(jarLine).c_str(),
                             platform::Utf8ToWide(libLine).c_str());
  std::ostringstream result;
  result << "code=" << code << "\ncwd=" << platform::WideToUtf8(platform::CurrentDirectory())
         << "\nappdata=" << platform::WideToUtf8(platform::LocalAppDataFolder()) << "\n";
  std::ofstream("launch-result.txt", std::ios::binary) << result.str();
  return code;
}
