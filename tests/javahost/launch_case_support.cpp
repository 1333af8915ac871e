#include "launch_case_support.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "base/text.h"
#include "branding.h"
#include "javahost/temp_jar.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace launch_cases {

fs::path LaunchDir() { return testing_support::ExecutableDir(); }
fs::path PlainJar(const std::string& app) { return LaunchDir() / "apps" / (app + ".jar"); }
fs::path ScrambledJar(const std::string& app) { return LaunchDir() / "apps" / (app + ".scrambled"); }
fs::path TempJar(const fs::path& workDir) {
  return PathOf(platform::JoinPath(platform::LocalAppDataFolder(), TempJarName(WideOf(workDir))));
}
fs::path TempJar(const LaunchCase& c) { return TempJar(c.workDir); }

std::wstring StoredJar(const LaunchCase& c) {
  return c.jarName.empty() ? std::wstring() : platform::JoinPath(WideOf(c.workDir), c.jarName);
}

std::wstring ClassPathOf(const LaunchCase& c, const std::wstring& tempJar) {
  const wchar_t sep = platform::kClassPathSeparator;
  std::wstring text = tempJar;
  for (size_t start = 0; !c.libText.empty() && start <= c.libText.size();) {
    size_t end = c.libText.find(sep, start);
    if (end == std::wstring::npos) end = c.libText.size();
    text += sep + platform::JoinPath(WideOf(c.workDir), c.libText.substr(start, end - start));
    start = end + 1;
  }
  return text + sep + WideOf(c.workDir);
}

std::vector<std::string> SuccessLog(const std::wstring& jvm, const LaunchCase& c) {
  std::wstring temp = WideOf(TempJar(c));
  return {
      Ansi(L"create JarAnd Run: jvm=" + jvm + L", jar=" + StoredJar(c)),
      Ansi(temp),
      Ansi(L"write jar to:" + temp),
      Ansi(L"jvm param:-Djava.class.path=" + ClassPathOf(c, temp)),
      "start load jvm dll.",
      "load jvm dll complete!!!",
      "start create java vm.",
      "create java vm now!!!",
      "find main class",
      "find main mathod",
      "load jar success",
  };
}

fs::path NotAJvmLibrary() { return LaunchDir() / NOT_A_JVM_LIBRARY; }
fs::path RunnerPath() { return LaunchDir() / LAUNCH_CASE_RUNNER; }

fs::path PathOf(const std::wstring& text) {
  std::string utf8 = base::WideToUtf8(text);
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::wstring WideOf(const fs::path& path) {
  std::u8string utf8 = path.u8string();
  return base::Utf8ToWide(std::string(utf8.begin(), utf8.end()));
}

std::string Ansi(const std::wstring& text) { return platform::WideToAnsi(text); }

std::string Field(const std::string& text, const std::string& key) {
  std::string prefix = key + "=";
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (text.compare(start, prefix.size(), prefix) == 0)
      return text.substr(start + prefix.size(), end - start - prefix.size());
    start = end + 1;
  }
  return "(no " + key + ")";
}

LaunchOutcome RunLaunchCase(const LaunchCase& c) {
  testing_support::WriteBytes(c.workDir / "launch-case.txt",
                              base::WideToUtf8(c.jvmPath + L"\n" + c.jarName + L"\n" + c.libText + L"\n"));
  fs::remove(c.workDir / "launch-result.txt");
  platform::ProgramRun run;
  run.program = WideOf(c.runner.empty() ? RunnerPath() : c.runner);
  run.workingDir = WideOf(c.workDir);
  run.stdoutPath = WideOf(c.workDir / "stdout.txt");
  run.environment = c.environment;
  run.args = c.args;
  platform::Error err;
  LaunchOutcome outcome;
  outcome.exitCode = platform::RunProgram(run, &err);
  EXPECT_NE(outcome.exitCode, -1) << "runner not started: " << base::WideToUtf8(err.message);
  outcome.stdoutText = testing_support::ReadBytes(c.workDir / "stdout.txt");
  for (const std::string& line : testing_support::DecodeLogLines(c.workDir / "t.log", branding::kLogKey)) {
    // "[yyyy-mm-dd hh:mm:ss]" precedes every message.
    EXPECT_GE(line.size(), 21u);
    EXPECT_EQ(line.substr(0, 1), "[");
    outcome.log.push_back(line.size() >= 21 ? line.substr(21) : line);
  }
  std::string result = testing_support::ReadBytes(c.workDir / "launch-result.txt");
  if (!result.empty()) {
    outcome.resultCode = Field(result, "code");
    outcome.cwdAfter = base::Utf8ToWide(Field(result, "cwd"));
    outcome.localAppData = base::Utf8ToWide(Field(result, "appdata"));
    outcome.peakMemory = std::strtoull(Field(result, "peakmemory").c_str(), nullptr, 10);
  }
  return outcome;
}

}  // namespace launch_cases
