// FindJvmPath looks beside the running executable; this program runs from a folder of its
// own so that the runtime it fakes there is seen by no other test program.
#include "javahost/jvm_location.h"

#include <gtest/gtest.h>

#include "branding.h"
#include "diagnostics/log.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testing_support::DecodeLogLines;
using testing_support::ExecutableDir;
using testing_support::ScopedCurrentDir;
using testing_support::TempDir;
using testing_support::WriteBytes;

class JvmLocation : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(ExecutableDir() / "java");
    ResetJvmPathForTesting();
    theLog.RestartForTesting();
  }
  void TearDown() override {
    fs::remove_all(ExecutableDir() / "java");
    ResetJvmPathForTesting();
    theLog.RestartForTesting();
  }
  static fs::path Candidate(size_t i) {
    return ExecutableDir() / platform::JvmLibraryCandidates().at(i);
  }
  static void Install(const fs::path& path) {
    fs::create_directories(path.parent_path());
    WriteBytes(path, "not really a VM library");
  }
  TempDir workDir;
};

TEST_F(JvmLocation, PresentLibraryIsFoundWithoutALogLine) {
  ScopedCurrentDir cd(workDir.Path());  // the current folder plays no part
  Install(Candidate(0));
  const wchar_t* path = FindJvmPath();
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(fs::path(path), Candidate(0));
  EXPECT_FALSE(fs::exists(workDir / "t.log"));
}

TEST_F(JvmLocation, MissingLibraryLogsExactlyOneLine) {
  ScopedCurrentDir cd(workDir.Path());
  EXPECT_EQ(FindJvmPath(), nullptr);
  auto lines = DecodeLogLines(workDir / "t.log", branding::kLogKey);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(21), "check jvm.dll: " + platform::WideToAnsi(Candidate(0).wstring()) +
                                     ". ret = false");
  // A folder where the library should be is no library either.
  fs::create_directories(Candidate(0));
  EXPECT_EQ(FindJvmPath(), nullptr);
}

TEST_F(JvmLocation, FoundPathIsKeptForTheProcess) {
  ScopedCurrentDir cd(workDir.Path());
  EXPECT_EQ(FindJvmPath(), nullptr);
  Install(Candidate(0));  // a failed look is not cached: installing the runtime helps
  const wchar_t* first = FindJvmPath();
  ASSERT_NE(first, nullptr);
  fs::remove_all(ExecutableDir() / "java");
  const wchar_t* again = FindJvmPath();
  EXPECT_EQ(again, first);
  EXPECT_EQ(fs::path(again), Candidate(0));
}

TEST_F(JvmLocation, LaterCandidatesAreFallbacks) {
  auto candidates = platform::JvmLibraryCandidates();
  if (candidates.size() < 2) GTEST_SKIP() << "one runtime layout on this platform";
  ScopedCurrentDir cd(workDir.Path());
  Install(Candidate(1));  // 64-bit runtimes have only the server VM
  ASSERT_NE(FindJvmPath(), nullptr);
  EXPECT_EQ(fs::path(FindJvmPath()), Candidate(1));
  ResetJvmPathForTesting();
  Install(Candidate(0));  // the client VM wins when both are there
  EXPECT_EQ(fs::path(FindJvmPath()), Candidate(0));
}
