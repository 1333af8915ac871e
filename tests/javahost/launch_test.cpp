// The Java launch's failures before a Java VM exists, each in a process of its own, on both
// platforms: no jar (1), no loadable library (2), a library without JNI_CreateJavaVM (3);
// and the temporary jar that each launch runs, which the launch prepares before the VM.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
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

// The log lines up to the library load, which every case that reads a jar writes.
std::vector<std::string> LinesBeforeTheLoad(const std::wstring& jvm, const LaunchCase& c) {
  std::wstring temp = WideOf(TempJar(c));
  return {Ansi(L"create JarAnd Run: jvm=" + jvm + L", jar=" + StoredJar(c)),
          Ansi(temp),
          Ansi(L"write jar to:" + temp),
          Ansi(L"jvm param:-Djava.class.path=" + ClassPathOf(c, temp)),
          "start load jvm dll.",
          "load jvm dll complete!!!"};
}

class LaunchFailure : public ::testing::Test {
 protected:
  LaunchCase Case(const std::wstring& jvm) {
    LaunchCase c;
    c.workDir = work.Path();
    c.jvmPath = jvm;
    return c;
  }
  // A runtime folder as the launcher expects it, holding `library` as its VM library.
  std::wstring Runtime(const std::string& library) {
    fs::path path = work / "rt" / platform::RuntimeLibraryCandidates().at(0);
    fs::create_directories(path.parent_path());
    WriteBytes(path, library);
    return WideOf(path);
  }
  TempDir work;
};

}  // namespace

TEST_F(LaunchFailure, MissingOrEmptyJarGivesCode1AndTouchesNothing) {
  for (bool empty : {false, true}) {
    fs::remove(work / "t.log");
    if (empty) WriteBytes(work / "main.jar", "");
    fs::create_directories(TempJar(work.Path()).parent_path());
    WriteBytes(TempJar(work.Path()), "the previous launch's jar");
    std::wstring jvm = Runtime("not looked at");
    LaunchOutcome out = RunLaunchCase(Case(jvm));
    EXPECT_EQ(out.exitCode, 1) << "empty=" << empty;
    EXPECT_EQ(out.stdoutText, "can't find jar file\n");
    EXPECT_EQ(out.log, std::vector<std::string>{Ansi(L"create JarAnd Run: jvm=" + jvm + L", jar=" + StoredJar(Case(jvm)))});
    EXPECT_EQ(ReadBytes(TempJar(work.Path())), "the previous launch's jar");
  }
}

TEST_F(LaunchFailure, LibraryThatCannotBeLoadedGivesCode2WithTheSystemsError) {
  for (bool exists : {true, false}) {
    fs::remove(work / "t.log");
    fs::copy_file(ScrambledJar("entry"), work / "main.jar", fs::copy_options::overwrite_existing);
    std::wstring jvm = Runtime("plain text, no library");
    if (!exists) fs::remove(jvm);
    LaunchOutcome out = RunLaunchCase(Case(jvm));
    EXPECT_EQ(out.exitCode, 2) << "exists=" << exists;
    EXPECT_EQ(out.stdoutText, "");
    std::vector<std::string> expected = LinesBeforeTheLoad(jvm, Case(jvm));
    ASSERT_EQ(out.log.size(), expected.size() + 2);
    EXPECT_EQ(std::vector<std::string>(out.log.begin(), out.log.begin() + 6), expected);
    std::string failed = Ansi(L"load jvm.dll fail!!! path = " + jvm + L", code=");
    EXPECT_EQ(out.log[6].substr(0, failed.size()), failed);
    std::string code = out.log[6].substr(std::min(failed.size(), out.log[6].size()));
    EXPECT_TRUE(!code.empty() && code.find_first_not_of("0123456789") == std::string::npos) << out.log[6];
    EXPECT_EQ(out.log[7].substr(0, 10), "exception:");
    EXPECT_GT(out.log[7].size(), 10u) << "the system's text for the failure";
    EXPECT_TRUE(fs::equivalent(PathOf(out.cwdAfter), work.Path()));
    // The jar was unscrambled into the temporary jar before the load.
    EXPECT_TRUE(ReadBytes(TempJar(work.Path())) == ReadBytes(PlainJar("entry")));
  }
}

TEST_F(LaunchFailure, LibraryWithoutTheVmEntryGivesCode3) {
  fs::copy_file(ScrambledJar("entry"), work / "main.jar");
  std::wstring jvm = Runtime(ReadBytes(NotAJvmLibrary()));
  LaunchOutcome out = RunLaunchCase(Case(jvm));
  EXPECT_EQ(out.exitCode, 3);
  std::vector<std::string> expected = LinesBeforeTheLoad(jvm, Case(jvm));
  expected.insert(expected.end(), {"start create java vm.", "create java vm now!!!", "create java vm fail!!!"});
  EXPECT_EQ(out.log, expected);
  EXPECT_TRUE(fs::equivalent(PathOf(out.cwdAfter), work.Path()));
}

// When the temporary jar cannot be replaced (on Windows a copy of the application that an
// older launcher started holds it; here a folder stands in the way on both platforms), the
// jar just read must still be the one that runs: it goes to a new file beside it, which the
// class path then names.
TEST_F(LaunchFailure, UnreplaceableTempJarIsWrittenBesideItAndUsed) {
  fs::remove_all(TempJar(work.Path()));
  fs::create_directories(TempJar(work.Path()) / "in-the-way");
  // What a copy that has ended left beside it is cleared away (no process has id 4000001).
  const fs::path leftover = fs::path(TempJar(work.Path())) += ".run-4000001-0";
  WriteBytes(leftover, "an ended copy's jar");
  fs::copy_file(ScrambledJar("entry"), work / "main.jar");
  std::wstring jvm = Runtime(ReadBytes(NotAJvmLibrary()));
  LaunchOutcome out = RunLaunchCase(Case(jvm));
  fs::remove_all(TempJar(work.Path()));
  EXPECT_EQ(out.exitCode, 3);
  EXPECT_FALSE(fs::exists(leftover));

  std::wstring temp = WideOf(TempJar(work.Path()));
  ASSERT_GE(out.log.size(), 5u);
  EXPECT_EQ(out.log[1], Ansi(temp));
  EXPECT_EQ(out.log[2], Ansi(L"write jar to:" + temp));
  std::string prefix = Ansi(L"write jar to:" + temp);
  ASSERT_EQ(out.log[3].rfind(prefix, 0), 0u) << out.log[3];
  std::string beside = out.log[3].substr(std::string("write jar to:").size());
  EXPECT_NE(beside, Ansi(temp));
  EXPECT_EQ(PathOf(platform::ThreadAnsiToWide(beside)).parent_path(), TempJar(work.Path()).parent_path());
  std::wstring sep(1, platform::kClassPathSeparator);
  EXPECT_EQ(out.log[4], "jvm param:-Djava.class.path=" + beside + Ansi(sep + WideOf(work.Path())));
  EXPECT_TRUE(ReadBytes(PathOf(platform::ThreadAnsiToWide(beside))) == ReadBytes(PlainJar("entry")));
  fs::remove(PathOf(platform::ThreadAnsiToWide(beside)));
}

// The temporary jar that cannot be written leaves the launch without a jar (code 1): the
// one an earlier launch left is never run in its place. Nothing can be written where the
// lock beside it belongs when a folder stands there, on either system.
TEST_F(LaunchFailure, TemporaryJarThatCannotBeWrittenGivesCode1) {
  fs::copy_file(ScrambledJar("entry"), work / "main.jar");
  const fs::path temp = TempJar(work.Path());
  const fs::path lock = fs::path(temp) += ".lock";
  fs::create_directories(lock);
  WriteBytes(temp, "the previous launch's jar");
  std::wstring jvm = Runtime(ReadBytes(NotAJvmLibrary()));
  LaunchOutcome out = RunLaunchCase(Case(jvm));
  fs::remove_all(lock);
  EXPECT_EQ(out.exitCode, 1);
  EXPECT_EQ(out.resultCode, "1");
  EXPECT_EQ(ReadBytes(temp), "the previous launch's jar");
  fs::remove(temp);
  ASSERT_EQ(out.log.size(), 4u);
  EXPECT_EQ(out.log[0], Ansi(L"create JarAnd Run: jvm=" + jvm + L", jar=" + StoredJar(Case(jvm))));
  EXPECT_EQ(out.log[1], Ansi(WideOf(temp)));
  EXPECT_EQ(out.log[2], Ansi(L"write jar fail:" + WideOf(temp)));
  EXPECT_EQ(out.log[3].rfind("exception:", 0), 0u) << out.log[3];
}

// A second launch of an unchanged jar finds the temporary jar holding its bytes and
// leaves it as it is.
TEST_F(LaunchFailure, SecondLaunchOfTheSameJarKeepsTheTemporaryJar) {
  fs::copy_file(ScrambledJar("entry"), work / "main.jar");
  std::wstring jvm = Runtime(ReadBytes(NotAJvmLibrary()));
  const fs::path temp = TempJar(work.Path());
  ASSERT_EQ(RunLaunchCase(Case(jvm)).exitCode, 3);
  platform::FileStamp first, second;
  ASSERT_TRUE(platform::StampOf(WideOf(temp), &first));

  LaunchOutcome out = RunLaunchCase(Case(jvm));
  EXPECT_EQ(out.exitCode, 3);
  ASSERT_TRUE(platform::StampOf(WideOf(temp), &second));
  EXPECT_EQ(second, first) << "written again";
  ASSERT_GE(out.log.size(), 4u);
  EXPECT_EQ(out.log[2], Ansi(L"reuse checked jar:" + WideOf(temp)));
  EXPECT_EQ(out.log[3], Ansi(L"jvm param:-Djava.class.path=" + ClassPathOf(Case(jvm), WideOf(temp))));
  EXPECT_TRUE(ReadBytes(temp) == ReadBytes(PlainJar("entry")));
}

// Two installations launched at the same moment, again and again: each class path names
// the installation's own temporary jar, which holds its own application.
TEST_F(LaunchFailure, TwoInstallationsStartedTogetherRunTheirOwnJars) {
  TempDir otherWork;
  std::wstring jvm = Runtime(ReadBytes(NotAJvmLibrary()));
  LaunchCase cases[2] = {Case(jvm), Case(jvm)};
  cases[1].workDir = otherWork.Path();
  const char* apps[2] = {"entry", "throws"};
  ASSERT_NE(ReadBytes(PlainJar(apps[0])), ReadBytes(PlainJar(apps[1])));
  ASSERT_NE(TempJar(cases[0]), TempJar(cases[1]));
  for (int round = 0; round < 3; ++round) {
    LaunchOutcome out[2];
    for (int i = 0; i < 2; ++i)
      fs::copy_file(ScrambledJar(apps[(i + round) % 2]), cases[i].workDir / "main.jar",
                    fs::copy_options::overwrite_existing);
    std::thread one([&] { out[0] = RunLaunchCase(cases[0]); });
    std::thread two([&] { out[1] = RunLaunchCase(cases[1]); });
    one.join();
    two.join();
    for (int i = 0; i < 2; ++i) {
      SCOPED_TRACE("round " + std::to_string(round) + ", installation " + std::to_string(i));
      EXPECT_EQ(out[i].exitCode, 3);
      std::wstring temp = WideOf(TempJar(cases[i]));
      ASSERT_GE(out[i].log.size(), 4u);
      EXPECT_EQ(out[i].log[1], Ansi(temp));
      EXPECT_EQ(out[i].log[3], Ansi(L"jvm param:-Djava.class.path=" + ClassPathOf(cases[i], temp)));
      EXPECT_TRUE(ReadBytes(PathOf(temp)) == ReadBytes(PlainJar(apps[(i + round) % 2])));
    }
  }
}

// The launch's memory does not grow with the jar: a jar far larger than the runner's own
// footprint costs it no more than a small one, whether the temporary jar is written or
// compared.
TEST_F(LaunchFailure, MemoryDoesNotGrowWithTheJar) {
  std::wstring jvm = Runtime(ReadBytes(NotAJvmLibrary()));
  fs::copy_file(ScrambledJar("entry"), work / "main.jar");
  LaunchOutcome small = RunLaunchCase(Case(jvm));
  ASSERT_EQ(small.exitCode, 3);
  ASSERT_GT(small.peakMemory, 0u) << "the system does not tell the peak memory";

  const std::size_t size = 96u << 20;
  WriteBytes(work / "main.jar", testing_support::BinaryBody(size, 41));
  const std::uint64_t room = 24u << 20;
  for (const wchar_t* step : {L"write jar to:", L"reuse checked jar:"}) {
    LaunchOutcome large = RunLaunchCase(Case(jvm));
    ASSERT_EQ(large.exitCode, 3) << base::WideToUtf8(step);
    ASSERT_GE(large.log.size(), 3u);
    EXPECT_EQ(large.log[2], Ansi(std::wstring(step) + WideOf(TempJar(work.Path()))));
    EXPECT_LT(large.peakMemory, small.peakMemory + room)
        << base::WideToUtf8(step) << " small jar: " << small.peakMemory << ", " << size << " byte jar: " << large.peakMemory;
  }
  fs::remove(TempJar(work.Path()));
}
