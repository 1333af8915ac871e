// FindRuntimeLibrary looks beside the executable path it is given: each case lays out an
// installation folder of its own.
#include "javahost/runtime_location.h"

#include <gtest/gtest.h>

#include "branding.h"
#include "diagnostics/log.h"
#include "platform/jvm_environment.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testing_support::DecodeLogLines;
using testing_support::ScopedCurrentDir;
using testing_support::TempDir;
using testing_support::WriteBytes;

class RuntimeLocation : public ::testing::Test {
 protected:
  void SetUp() override { theLog.StartAt((logDir / "t.log").wstring()); }
  void TearDown() override { theLog.StartAt(L""); }
  fs::path Candidate(size_t i) const { return install / platform::RuntimeLibraryCandidates().at(i); }
  std::wstring Exe() const { return (install / "Launcher.exe").wstring(); }
  static void Install(const fs::path& path) {
    fs::create_directories(path.parent_path());
    WriteBytes(path, "not really a VM library");
  }
  TempDir install;
  TempDir logDir;
};

TEST_F(RuntimeLocation, PresentLibraryIsFoundWithoutALogLine) {
  ScopedCurrentDir cd(logDir.Path());  // the current folder plays no part
  Install(Candidate(0));
  std::optional<std::wstring> path = FindRuntimeLibrary(Exe());
  ASSERT_TRUE(path.has_value());
  EXPECT_EQ(fs::path(*path), Candidate(0));
  EXPECT_FALSE(fs::exists(logDir / "t.log"));
}

TEST_F(RuntimeLocation, MissingLibraryLogsExactlyOneLine) {
  EXPECT_EQ(FindRuntimeLibrary(Exe()), std::nullopt);
  auto lines = DecodeLogLines(logDir / "t.log", branding::kLogKey);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(21), "check jvm.dll: " + platform::WideToAnsi(Candidate(0).wstring()) +
                                     ". ret = false");
  // A folder where the library should be is no library either.
  fs::create_directories(Candidate(0));
  EXPECT_EQ(FindRuntimeLibrary(Exe()), std::nullopt);
  // Nor is an executable path without a folder.
  EXPECT_EQ(FindRuntimeLibrary(L"Launcher.exe"), std::nullopt);
}

TEST_F(RuntimeLocation, EveryLookSeesTheDiskAsItIsNow) {
  EXPECT_EQ(FindRuntimeLibrary(Exe()), std::nullopt);
  Install(Candidate(0));  // installing the runtime helps at once
  EXPECT_EQ(FindRuntimeLibrary(Exe()), Candidate(0).wstring());
  fs::remove_all(install / "java");
  EXPECT_EQ(FindRuntimeLibrary(Exe()), std::nullopt);
}

TEST_F(RuntimeLocation, LaterCandidatesAreFallbacks) {
  if (platform::RuntimeLibraryCandidates().size() < 2) GTEST_SKIP() << "one runtime layout on this platform";
  Install(Candidate(1));  // 64-bit runtimes have only the server VM
  EXPECT_EQ(FindRuntimeLibrary(Exe()), Candidate(1).wstring());
  Install(Candidate(0));  // the client VM wins when both are there
  EXPECT_EQ(FindRuntimeLibrary(Exe()), Candidate(0).wstring());
}
