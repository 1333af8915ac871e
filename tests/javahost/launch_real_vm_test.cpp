// The Java launch with the real Java VM (OpenJDK's libjvm.so in the runtime beside the
// runner), each case in a process of its own: a VM can be created only once per process.
// Linux only: no Windows Java runtime exists on the build machines (the Windows build checks
// the same calls against a test double of jvm.dll instead).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
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

namespace {

const std::wstring kSep(1, platform::kClassPathSeparator);

bool OptionsHold(const char* wanted) {
  for (const char* option : branding::kJvmOptions)
    if (std::strcmp(option, wanted) == 0) return true;
  return false;
}

class RealVm : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(LaunchDir() / PathOf(platform::RuntimeLibraryCandidates().at(0))))
        << "the runtime beside the runner is missing";
    // The temporary jar's folder name is not ASCII, to show that the VM gets a locale that
    // can decode the class path even when the user's has none.
    ASSERT_NE(platform::LocalAppDataFolder().find(L'\u6570'), std::wstring::npos);
  }
  // The case runs app's jar, stored scrambled as "main.jar", without a UTF-8 locale.
  LaunchCase Case(const std::string& app) {
    fs::copy_file(ScrambledJar(app), work / "main.jar", fs::copy_options::overwrite_existing);
    LaunchCase c;
    c.workDir = work.Path();
    c.environment = {L"LC_ALL=C", L"LANG=C", L"LC_CTYPE="};
    return c;
  }
  std::vector<std::string> Tail(const LaunchOutcome& out, size_t n) {
    return out.log.size() < n ? out.log : std::vector<std::string>(out.log.end() - n, out.log.end());
  }
  TempDir work;
};

}  // namespace

TEST_F(RealVm, EntryGetsTheExecutablePathAndTheClassPath) {
  fs::create_directories(work / PathOf(L"\u5e93 1"));
  fs::copy_file(PlainJar("helper"), work / PathOf(L"\u5e93 1") / "helper.jar");
  // With and without a UTF-8 locale in the environment.
  for (const wchar_t* locale : {L"LC_ALL=C", L"LC_ALL=C.UTF-8"}) {
    fs::remove(work / "entry.txt");
    fs::remove(TempJar(work.Path()));
    LaunchCase c = Case("entry");
    c.environment[0] = locale;
    c.libText = L"libs/absent.jar" + kSep + L"\u5e93 1/helper.jar";
    LaunchOutcome out = RunLaunchCase(c);
    ASSERT_EQ(out.exitCode, 0) << base::WideToUtf8(locale);
    EXPECT_EQ(out.localAppData, platform::LocalAppDataFolder());

    std::wstring jvm = WideOf(LaunchDir() / platform::RuntimeLibraryCandidates().at(0));
    std::wstring classPath = ClassPathOf(c, WideOf(TempJar(work.Path())));
    EXPECT_EQ(out.log, SuccessLog(jvm, c));
    EXPECT_TRUE(ReadBytes(TempJar(work.Path())) == ReadBytes(PlainJar("entry")));

    std::string entry = ReadBytes(work / "entry.txt");
    EXPECT_EQ(Field(entry, "path"), base::WideToUtf8(WideOf(RunnerPath())));
    EXPECT_EQ(Field(entry, "classpath"), base::WideToUtf8(classPath));
    EXPECT_EQ(Field(entry, "helper"), "found") << "libText's entries reach the class path";
    if (OptionsHold("-Djava.compiler=NONE")) {
      EXPECT_NE(Field(entry, "vminfo").find("interpreted mode"), std::string::npos) << Field(entry, "vminfo");
    }
    EXPECT_TRUE(fs::equivalent(PathOf(out.cwdAfter), work.Path()));
  }
}

// The working folder comes last on the class path: a class file there named like the
// application's own (a stale file, another program's) never runs in its place, while the
// application still finds the user's files there through the class path.
TEST_F(RealVm, TheApplicationsOwnClassesWinOverFilesInTheWorkingFolder) {
  fs::create_directories(work / "zobj");
  fs::copy_file(fs::path(LAUNCH_TEST_CLASSES) / "shadow" / "zobj" / "Run.class", work / "zobj" / "Run.class");
  testing_support::WriteBytes(work / "settings.txt", "the user's settings");
  LaunchCase c = Case("entry");
  LaunchOutcome out = RunLaunchCase(c);
  ASSERT_EQ(out.exitCode, 0);
  std::string entry = ReadBytes(work / "entry.txt");
  EXPECT_EQ(entry.find("shadowed="), std::string::npos) << "the class in the working folder ran";
  EXPECT_EQ(Field(entry, "path"), base::WideToUtf8(WideOf(RunnerPath())));
  EXPECT_EQ(Field(entry, "resource"), "the user's settings");
  EXPECT_EQ(Field(entry, "classpath"), base::WideToUtf8(ClassPathOf(c, WideOf(TempJar(work.Path())))));
}

TEST_F(RealVm, LongExecutablePathReachesTheEntryWhole) {
  fs::path folder = work / std::string(150, 'd');
  fs::create_directories(folder);
  fs::copy_file(RunnerPath(), folder / RunnerPath().filename());
  LaunchCase c = Case("entry");
  c.runner = folder / RunnerPath().filename();
  c.jvmPath = WideOf(LaunchDir() / platform::RuntimeLibraryCandidates().at(0));
  LaunchOutcome out = RunLaunchCase(c);
  ASSERT_EQ(out.exitCode, 0);
  std::string path = Field(ReadBytes(work / "entry.txt"), "path");
  EXPECT_GT(path.size(), 127u);
  EXPECT_EQ(path, base::WideToUtf8(WideOf(c.runner)));
}

TEST_F(RealVm, ReturnsOnlyAfterTheApplicationsThreadsHaveEnded) {
  // The entry returns at once; its non-daemon thread writes its file a second later, and a
  // daemon thread never ends: the VM is destroyed (and unloaded) with it still there.
  LaunchOutcome out = RunLaunchCase(Case("threads"));
  EXPECT_EQ(out.exitCode, 0);
  EXPECT_EQ(out.resultCode, "0");
  EXPECT_TRUE(fs::exists(work / "entry-returned.txt"));
  EXPECT_TRUE(fs::exists(work / "thread-done.txt"));
}

TEST_F(RealVm, ExceptionFromTheEntryIsLoggedAndCleared) {
  LaunchOutcome out = RunLaunchCase(Case("throws"));
  EXPECT_EQ(out.exitCode, 0);
  EXPECT_EQ(Tail(out, 3), (std::vector<std::string>{
                              "find main mathod",
                              "java exception: java.lang.IllegalStateException: thrown by the test application",
                              "load jar success"}));
}

TEST_F(RealVm, JarWithoutTheEntryClassGivesCode4) {
  LaunchOutcome out = RunLaunchCase(Case("noclass"));
  EXPECT_EQ(out.exitCode, 4);
  EXPECT_EQ(out.resultCode, "4") << "DestroyJavaVM returned";
  EXPECT_EQ(Tail(out, 4), (std::vector<std::string>{
                              "create java vm now!!!", "find main class", "FindClass zobj/Run failed\n",
                              "java exception: java.lang.NoClassDefFoundError: zobj/Run"}));
}

TEST_F(RealVm, ClassWithoutTheEntryMethodGivesCode5) {
  LaunchOutcome out = RunLaunchCase(Case("nomethod"));
  EXPECT_EQ(out.exitCode, 5);
  EXPECT_EQ(out.resultCode, "5");
  ASSERT_EQ(Tail(out, 3).size(), 3u);
  EXPECT_EQ(Tail(out, 3)[0], "find main mathod");
  EXPECT_EQ(Tail(out, 3)[1], "getMethodID runWithPath failed");
  EXPECT_EQ(Tail(out, 3)[2].rfind("java exception: java.lang.NoSuchMethodError: ", 0), 0u) << Tail(out, 3)[2];
}

TEST_F(RealVm, VmThatCannotBeCreatedGivesCode3) {
  LaunchCase c = Case("entry");
  // The VM itself reads this variable; an unknown flag makes JNI_CreateJavaVM fail.
  c.environment.push_back(L"JAVA_TOOL_OPTIONS=-XX:+NoSuchFlagForTheLaunchTest");
  LaunchOutcome out = RunLaunchCase(c);
  EXPECT_EQ(out.exitCode, 3);
  EXPECT_EQ(Tail(out, 3), (std::vector<std::string>{"start create java vm.", "create java vm now!!!",
                                                    "create java vm fail!!!"}));
  EXPECT_FALSE(fs::exists(work / "entry.txt"));
}

// Two installations launched at the same moment, each with its own application: each VM
// runs its own (the entry application writes entry.txt, the other one its thread's files).
TEST_F(RealVm, TwoInstallationsStartedTogetherRunTheirOwnApplications) {
  TempDir otherWork;
  LaunchCase entry = Case("entry");
  LaunchCase threads = Case("entry");
  threads.workDir = otherWork.Path();
  fs::copy_file(ScrambledJar("threads"), otherWork / "main.jar", fs::copy_options::overwrite_existing);
  LaunchOutcome out[2];
  std::thread one([&] { out[0] = RunLaunchCase(entry); });
  std::thread two([&] { out[1] = RunLaunchCase(threads); });
  one.join();
  two.join();
  ASSERT_EQ(out[0].exitCode, 0);
  ASSERT_EQ(out[1].exitCode, 0);
  EXPECT_EQ(Field(ReadBytes(work / "entry.txt"), "classpath"),
            base::WideToUtf8(ClassPathOf(entry, WideOf(TempJar(entry)))));
  EXPECT_FALSE(fs::exists(work / "thread-done.txt"));
  EXPECT_TRUE(fs::exists(otherWork / "thread-done.txt"));
  EXPECT_FALSE(fs::exists(otherWork / "entry.txt"));
  EXPECT_TRUE(ReadBytes(TempJar(entry)) == ReadBytes(PlainJar("entry")));
  EXPECT_TRUE(ReadBytes(TempJar(threads)) == ReadBytes(PlainJar("threads")));
}

// The local application data folder full while the temporary jar is written (a limit on
// the size of the files the runner may write stands in for the full disk): no jar (code 1),
// and the temporary jar an earlier launch left is neither run nor touched.
TEST_F(RealVm, FullDiskWhileTheTemporaryJarIsWrittenGivesCode1) {
  LaunchCase c = Case("entry");
  testing_support::WriteBytes(work / "main.jar", testing_support::BinaryBody(1 << 20, 51));
  const fs::path temp = TempJar(c);
  testing_support::WriteBytes(temp, "the previous launch's jar");
  c.args = {L"-c", L"trap '' XFSZ; ulimit -f 256; exec \"$0\"", WideOf(RunnerPath())};
  c.runner = "/bin/sh";
  LaunchOutcome out = RunLaunchCase(c);
  EXPECT_EQ(out.exitCode, 1);
  EXPECT_EQ(out.resultCode, "1");
  EXPECT_EQ(ReadBytes(temp), "the previous launch's jar");
  ASSERT_EQ(out.log.size(), 5u);
  EXPECT_EQ(out.log[1], Ansi(WideOf(temp)));
  EXPECT_EQ(out.log[2], Ansi(L"write jar to:" + WideOf(temp)));
  EXPECT_EQ(out.log[3], Ansi(L"write jar fail:" + WideOf(temp)));
  EXPECT_EQ(out.log[4].rfind("exception:", 0), 0u) << out.log[4];
  for (const auto& entry : fs::directory_iterator(temp.parent_path()))
    EXPECT_EQ(entry.path().filename().string().find(".part-"), std::string::npos) << entry.path();
  fs::remove(temp);
}
