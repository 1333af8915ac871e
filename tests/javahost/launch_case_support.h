// Running the Java launch in a process of its own (the java_launch_case program beside the
// test program) and reading back what it left: exit code, standard output, t.log.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace launch_cases {

// The folder of the test program and the case runner: it holds the runtime ("java"), the
// test applications ("apps") and the library that is no Java runtime.
std::filesystem::path LaunchDir();
// A test application's jar as built (plain) and as the launcher stores it (scrambled).
std::filesystem::path PlainJar(const std::string& app);
std::filesystem::path ScrambledJar(const std::string& app);
// The test library without JNI_CreateJavaVM.
std::filesystem::path NotAJvmLibrary();

struct LaunchCase {
  std::filesystem::path workDir;   // becomes the runner's current folder
  std::wstring jvmPath;            // empty: the runtime beside the runner
  std::wstring jarName = L"main.jar";
  std::wstring libText;            // libraries relative to workDir, class-path separators between
  std::vector<std::wstring> environment;  // "NAME=value" for the runner
  std::filesystem::path runner;           // empty: java_launch_case beside the test program
  std::vector<std::wstring> args;         // for `runner` (e.g. a shell that starts the runner)
};

struct LaunchOutcome {
  int exitCode = -1;
  std::string stdoutText;
  std::vector<std::string> log;  // t.log's messages without their timestamps
  std::string resultCode;        // as the runner saw the launch's result ("" if it died)
  std::wstring cwdAfter;         // the current folder once the launch had returned
  std::wstring localAppData;     // the runner's local application data folder
  std::uint64_t peakMemory = 0;  // the runner's peak resident memory, in bytes (0: unknown)
};

LaunchOutcome RunLaunchCase(const LaunchCase& c);

// Paths from and to wide text as UTF-8, whatever the locale: std::filesystem converts
// wide text with the C library's locale on Linux, which fails for non-ASCII text under "C".
std::filesystem::path PathOf(const std::wstring& text);
std::wstring WideOf(const std::filesystem::path& path);

// The runner's own program file.
std::filesystem::path RunnerPath();

// Text as t.log holds it (the ANSI code page; UTF-8 on Linux).
std::string Ansi(const std::wstring& text);

// The temporary jar that a launch of the case writes: "_Temp-<hash of the working folder>"
// in the local application data folder.
std::filesystem::path TempJar(const LaunchCase& c);
std::filesystem::path TempJar(const std::filesystem::path& workDir);

// The stored jar as the launch names it: its name in the case's working folder.
std::wstring StoredJar(const LaunchCase& c);
// The class path a launch of the case builds around a temporary jar, as t.log shows it:
// the working folder, the temporary jar and each library in the working folder.
std::wstring ClassPathOf(const LaunchCase& c, const std::wstring& tempJar);

// t.log's messages of a launch that ran the entry method, for a VM library and a case.
std::vector<std::string> SuccessLog(const std::wstring& jvm, const LaunchCase& c);

// "key=value" lines of a file written by a test application or the runner.
std::string Field(const std::string& text, const std::string& key);

}  // namespace launch_cases
