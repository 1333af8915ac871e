// The Java launch's failures before a Java VM exists, each in a process of its own, on both
// platforms: no jar (1), no loadable library (2), a library without JNI_CreateJavaVM (3).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "javahost/runtime_layout.h"
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
  std::wstring temp = WideOf(TempJar());
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
    fs::path path = work / "rt" / RuntimeLibraryCandidates().at(0);
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
    fs::create_directories(TempJar().parent_path());
    WriteBytes(TempJar(), "the previous launch's jar");
    std::wstring jvm = Runtime("not looked at");
    LaunchOutcome out = RunLaunchCase(Case(jvm));
    EXPECT_EQ(out.exitCode, 1) << "empty=" << empty;
    EXPECT_EQ(out.stdoutText, "can't find jar file\n");
    EXPECT_EQ(out.log, std::vector<std::string>{Ansi(L"create JarAnd Run: jvm=" + jvm + L", jar=" + StoredJar(Case(jvm)))});
    EXPECT_EQ(ReadBytes(TempJar()), "the previous launch's jar");
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
    EXPECT_TRUE(ReadBytes(TempJar()) == ReadBytes(PlainJar("entry")));
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

// When "_Temp" cannot be replaced (on Windows a running copy of the application holds it;
// here a folder stands in the way on both platforms), the jar just read must still be the
// one that runs: it goes to a new file beside "_Temp", which the class path then names.
TEST_F(LaunchFailure, UnreplaceableTempJarIsWrittenBesideItAndUsed) {
  fs::remove_all(TempJar());
  fs::create_directories(TempJar() / "in-the-way");
  // What a copy that has ended left beside "_Temp" is cleared away (no process has id 4000001).
  const fs::path leftover = TempJar().parent_path() / "_Temp.run-4000001-0";
  WriteBytes(leftover, "an ended copy's jar");
  fs::copy_file(ScrambledJar("entry"), work / "main.jar");
  std::wstring jvm = Runtime(ReadBytes(NotAJvmLibrary()));
  LaunchOutcome out = RunLaunchCase(Case(jvm));
  fs::remove_all(TempJar());
  EXPECT_EQ(out.exitCode, 3);
  EXPECT_FALSE(fs::exists(leftover));

  std::wstring temp = WideOf(TempJar());
  ASSERT_GE(out.log.size(), 5u);
  EXPECT_EQ(out.log[1], Ansi(temp));
  EXPECT_EQ(out.log[2], Ansi(L"write jar to:" + temp));
  std::string prefix = Ansi(L"write jar to:" + temp);
  ASSERT_EQ(out.log[3].rfind(prefix, 0), 0u) << out.log[3];
  std::string beside = out.log[3].substr(std::string("write jar to:").size());
  EXPECT_NE(beside, Ansi(temp));
  EXPECT_EQ(PathOf(platform::ThreadAnsiToWide(beside)).parent_path(), TempJar().parent_path());
  std::wstring sep(1, platform::kClassPathSeparator);
  EXPECT_EQ(out.log[4], "jvm param:-Djava.class.path=" + Ansi(WideOf(work.Path()) + sep) + beside);
  EXPECT_TRUE(ReadBytes(PathOf(platform::ThreadAnsiToWide(beside))) == ReadBytes(PlainJar("entry")));
  fs::remove(PathOf(platform::ThreadAnsiToWide(beside)));
}
