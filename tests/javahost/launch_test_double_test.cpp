// The Windows launcher's JNI calls, each case in a process of its own, against the TEST
// DOUBLE of jvm.dll in the runtime beside the runner (no Windows Java runtime exists on the
// build machines; the Linux build runs the same cases with the real VM). The double
// records what it receives in "jvm-test-double.log" and fails where "jvm-test-double.txt"
// tells it to.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "base/text.h"
#include "branding.h"
#include "platform/jvm_environment.h"
#include "launch_case_support.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace launch_cases;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

fs::path Runtime() { return LaunchDir() / platform::RuntimeLibraryCandidates().at(0); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

class JvmTestDouble : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(fs::exists(Runtime())) << "the test double beside the runner is missing"; }
  LaunchCase Case(const std::string& failAt) {
    fs::copy_file(ScrambledJar("entry"), work / "main.jar", fs::copy_options::overwrite_existing);
    WriteBytes(work / "jvm-test-double.txt", failAt);
    fs::remove(work / "jvm-test-double.log");
    LaunchCase c;
    c.workDir = work.Path();
    return c;
  }
  std::vector<std::string> Record() { return Lines(ReadBytes(work / "jvm-test-double.log")); }
  // What the double records up to and with JNI_CreateJavaVM for the case's class path.
  std::vector<std::string> CreationRecord(const LaunchCase& c) {
    std::vector<std::string> lines = {
        // The library loads where the process stands: the launcher never moves it for that.
        "loaded in " + base::WideToUtf8(WideOf(c.workDir)),
        "JNI_CreateJavaVM version=0x10006 options=" + std::to_string(std::size(branding::kJvmOptions)) +
            " ignoreUnrecognized=1"};
    for (const char* option : branding::kJvmOptions) {
      lines.push_back("option " + (std::string(option) == "-Djava.class.path"
                                       ? Ansi(L"-Djava.class.path=" + ClassPathOf(c, WideOf(TempJar(c))))
                                       : std::string(option)));
    }
    return lines;
  }
  TempDir work;
};

}  // namespace

TEST_F(JvmTestDouble, EntryGetsTheExecutablePathThroughTheJniCalls) {
  fs::remove(TempJar(work.Path()));
  LaunchCase c = Case("");
  c.libText = L"lib\\a.jar;\u5e93\\b.jar";  // the Chinese code page holds these characters
  LaunchOutcome out = RunLaunchCase(c);
  ASSERT_EQ(out.exitCode, 0);
  EXPECT_EQ(out.localAppData, platform::LocalAppDataFolder());

  std::string exe = base::WideToUtf8(WideOf(RunnerPath()));
  std::vector<std::string> expected = CreationRecord(c);
  expected.insert(expected.end(), {
                                      "FindClass zobj/Run",
                                      "AllocObject zobj/Run",
                                      "GetStaticMethodID runWithPath (Ljava/lang/String;)V",
                                      "NewString " + std::to_string(WideOf(RunnerPath()).size()) + " " + exe,
                                      "CallStaticVoidMethod zobj/Run.runWithPath " + exe,
                                      "DestroyJavaVM",
                                      "unloaded by FreeLibrary",
                                  });
  EXPECT_EQ(Record(), expected);

  EXPECT_EQ(out.log, SuccessLog(WideOf(Runtime()), c));
  EXPECT_TRUE(ReadBytes(TempJar(work.Path())) == ReadBytes(PlainJar("entry")));
  EXPECT_TRUE(fs::equivalent(PathOf(out.cwdAfter), work.Path())) << "the current folder is restored after the load";
}

TEST_F(JvmTestDouble, LongExecutablePathReachesNewStringWhole) {
  fs::path folder = work / std::string(150, 'd');
  fs::create_directories(folder);
  fs::copy_file(RunnerPath(), folder / RunnerPath().filename());
  LaunchCase c = Case("");
  c.runner = folder / RunnerPath().filename();
  c.jvmPath = WideOf(Runtime());
  ASSERT_EQ(RunLaunchCase(c).exitCode, 0);
  std::string exe = base::WideToUtf8(WideOf(c.runner));
  ASSERT_GT(WideOf(c.runner).size(), 127u);
  std::vector<std::string> record = Record();
  EXPECT_NE(std::find(record.begin(), record.end(),
                      "NewString " + std::to_string(WideOf(c.runner).size()) + " " + exe),
            record.end());
}

TEST_F(JvmTestDouble, ForwardSlashLibraryPathLoadsWithoutMovingTheCurrentFolder) {
  LaunchCase c = Case("");
  c.jvmPath = WideOf(Runtime());
  for (wchar_t& ch : c.jvmPath)
    if (ch == L'\\') ch = L'/';
  LaunchOutcome out = RunLaunchCase(c);
  ASSERT_EQ(out.exitCode, 0);
  std::vector<std::string> record = Record();
  ASSERT_FALSE(record.empty());
  ASSERT_EQ(record[0].rfind("loaded in ", 0), 0u);
  // The runtime's own DLLs are found through the search path, not by moving the process.
  EXPECT_TRUE(fs::equivalent(base::Utf8ToWide(record[0].substr(10)), work.Path()));
  EXPECT_TRUE(fs::equivalent(PathOf(out.cwdAfter), work.Path()));
}

TEST_F(JvmTestDouble, FailuresAfterTheLoadGiveTheirCodes) {
  struct Row {
    const char* failAt;
    int code;
    std::vector<std::string> record;  // after the creation
    std::vector<std::string> logTail;
  } rows[] = {
      // The runtime's library is unloaded on every way out, failures included.
      {"create", 3, {"unloaded by FreeLibrary"}, {"start create java vm.", "create java vm now!!!", "create java vm fail!!!"}},
      {"class",
       4,
       {"FindClass zobj/Run", "ExceptionDescribe java.lang.NoClassDefFoundError: zobj/Run", "ExceptionClear",
        "DestroyJavaVM", "unloaded by FreeLibrary"},
       {"find main class", "FindClass zobj/Run failed\n", "java exception: java.lang.NoClassDefFoundError: zobj/Run"}},
      {"method",
       5,
       {"FindClass zobj/Run", "AllocObject zobj/Run", "GetStaticMethodID runWithPath (Ljava/lang/String;)V",
        "ExceptionDescribe java.lang.NoSuchMethodError: runWithPath", "ExceptionClear", "DestroyJavaVM",
        "unloaded by FreeLibrary"},
       {"find main mathod", "getMethodID runWithPath failed",
        "java exception: java.lang.NoSuchMethodError: runWithPath"}},
      {"throw",
       0,
       {"FindClass zobj/Run", "AllocObject zobj/Run", "GetStaticMethodID runWithPath (Ljava/lang/String;)V",
        "NewString", "CallStaticVoidMethod",
        "ExceptionDescribe java.lang.IllegalStateException: thrown by the test application", "ExceptionClear",
        "DestroyJavaVM", "unloaded by FreeLibrary"},
       {"find main mathod", "java exception: java.lang.IllegalStateException: thrown by the test application",
        "load jar success"}},
  };
  for (const Row& row : rows) {
    fs::remove(work / "t.log");
    LaunchOutcome out = RunLaunchCase(Case(row.failAt));
    EXPECT_EQ(out.exitCode, row.code) << row.failAt;
    EXPECT_EQ(out.resultCode, std::to_string(row.code)) << row.failAt;

    std::vector<std::string> record = Record();
    std::vector<std::string> head = CreationRecord(Case(row.failAt));
    ASSERT_GE(record.size(), head.size()) << row.failAt;
    EXPECT_EQ(std::vector<std::string>(record.begin(), record.begin() + head.size()), head) << row.failAt;
    std::vector<std::string> rest(record.begin() + head.size(), record.end());
    // The calls that carry the executable's path are checked in full elsewhere.
    for (std::string& line : rest)
      for (const char* call : {"NewString", "CallStaticVoidMethod"})
        if (line.rfind(call, 0) == 0) line = call;
    EXPECT_EQ(rest, row.record) << row.failAt;

    ASSERT_GE(out.log.size(), row.logTail.size());
    EXPECT_EQ(std::vector<std::string>(out.log.end() - row.logTail.size(), out.log.end()), row.logTail)
        << row.failAt;
    EXPECT_TRUE(fs::equivalent(PathOf(out.cwdAfter), work.Path())) << row.failAt;
  }
}
