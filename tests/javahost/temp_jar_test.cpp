// The temporary jar of one launch, in this test process: its name per installation, when it
// is kept and when written, what a running launch keeps, and what never runs.
#include "javahost/temp_jar.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "base/text.h"
#include "branding.h"
#include "diagnostics/log.h"
#include "launch_case_support.h"
#include "platform/platform.h"
#include "launch/stamp_record.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using launch_cases::PathOf;
using launch_cases::WideOf;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

std::string Scrambled(std::string plain) {
  for (char& c : plain) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ branding::kJarKey);
  return plain;
}

platform::FileStamp StampOf(const fs::path& path) {
  platform::FileStamp stamp;
  EXPECT_TRUE(platform::StampOf(WideOf(path), &stamp)) << path.string();
  return stamp;
}

// Waits until what was just written has settled: its stamp then proves its bytes.
void WaitPastTheSettleTime() {
  std::this_thread::sleep_for(std::chrono::nanoseconds(
      launch::kStampSettleTicks * (1000000000 / platform::kStampTicksPerSecond) + 200000000));
}

class TempJarTest : public ::testing::Test {
 protected:
  void SetUp() override { theLog.StartAt(WideOf(logs / "t.log")); }
  void TearDown() override { theLog.StartAt(L""); }

  std::variant<TempJar, TempJarFailure> Prepare(const fs::path& workDir) {
    return PrepareTempJar(WideOf(workDir / "main.jar"), WideOf(workDir), WideOf(appData.Path()));
  }
  // A preparation that must succeed; its lock is held for as long as the result lives.
  TempJar Prepared(const fs::path& workDir) {
    std::variant<TempJar, TempJarFailure> result = Prepare(workDir);
    EXPECT_TRUE(std::holds_alternative<TempJar>(result));
    return std::holds_alternative<TempJar>(result) ? std::move(std::get<TempJar>(result)) : TempJar{};
  }
  fs::path TempPath(const fs::path& workDir) const { return appData / PathOf(TempJarName(WideOf(workDir))); }

  // The messages logged since the last call, without timestamps.
  std::vector<std::string> Logged() {
    std::vector<std::string> lines;
    for (const std::string& line : testing_support::DecodeLogLines(logs / "t.log", branding::kLogKey))
      lines.push_back(line.size() >= 21 ? line.substr(21) : line);
    theLog.StartAt(WideOf(logs / "t.log"));
    return lines;
  }
  std::vector<std::string> Lines(const char* what, const fs::path& temp) {
    std::string path = platform::WideToAnsi(WideOf(temp));
    return {path, what + path};
  }

  TempDir logs, appData, work;
};

}  // namespace

// The name is part of what stays on users' disks from one version to the next: the hash
// is FNV-1a over the path's UTF-8, pinned here by its published values.
TEST(TempJarName, OneNamePerWorkingFolder) {
  EXPECT_EQ(TempJarName(L""), L"_Temp-811c9dc5");
  EXPECT_EQ(TempJarName(L"a"), L"_Temp-e40c292c");
  const std::wstring one = testing_support::NativeSeparators(L"C:\\Users\\u\\Documents\\quorvane-Tools");
  const std::wstring two = testing_support::NativeSeparators(L"C:\\Users\\u\\Documents\\quorvane-Tools2");
  EXPECT_EQ(TempJarName(one), TempJarName(one));
  EXPECT_NE(TempJarName(one), TempJarName(two));
  EXPECT_NE(TempJarName(L"\u5de5\u5177"), TempJarName(L"\u5de5\u5178"));
  std::wstring name = TempJarName(one);
  ASSERT_EQ(name.size(), 14u);
  EXPECT_EQ(name.find_first_not_of(L"0123456789abcdef", 6), std::wstring::npos);
}

TEST_F(TempJarTest, WrittenOnceAndKeptWhileTheStoredJarStays) {
  const std::string plain = testing_support::BinaryBody(300000, 11);
  WriteBytes(work / "main.jar", Scrambled(plain));
  const fs::path temp = TempPath(work.Path());

  EXPECT_EQ(Prepared(work.Path()).path, WideOf(temp));
  EXPECT_EQ(Logged(), Lines("write jar to:", temp));
  EXPECT_TRUE(ReadBytes(temp) == plain);
  const platform::FileStamp written = StampOf(temp);

  // Just written, its stamp proves nothing yet: the bytes are compared, not written again.
  WaitPastTheSettleTime();
  EXPECT_EQ(Prepared(work.Path()).path, WideOf(temp));
  EXPECT_EQ(Logged(), Lines("reuse checked jar:", temp));
  EXPECT_EQ(StampOf(temp), written);

  // Now the record alone proves it.
  EXPECT_EQ(Prepared(work.Path()).path, WideOf(temp));
  EXPECT_EQ(Logged(), Lines("reuse jar:", temp));
  EXPECT_EQ(StampOf(temp), written);

  // The stored jar rewritten in place with as many other bytes: noticed, never reused.
  const std::string next = testing_support::BinaryBody(300000, 12);
  WriteBytes(work / "main.jar", Scrambled(next));
  EXPECT_EQ(Prepared(work.Path()).path, WideOf(temp));
  EXPECT_EQ(Logged(), Lines("write jar to:", temp));
  EXPECT_TRUE(ReadBytes(temp) == next);

  // The temporary jar changed in place behind the launcher's back: written again.
  WriteBytes(temp, std::string(next.size(), 'x'));
  EXPECT_EQ(Prepared(work.Path()).path, WideOf(temp));
  EXPECT_EQ(Logged(), Lines("write jar to:", temp));
  EXPECT_TRUE(ReadBytes(temp) == next);

  // A record that is not whole proves nothing.
  std::string record = ReadBytes(fs::path(temp) += ".state");
  ASSERT_FALSE(record.empty());
  WriteBytes(fs::path(temp) += ".state", record.substr(0, record.size() - 2));
  EXPECT_EQ(Prepared(work.Path()).path, WideOf(temp));
  EXPECT_EQ(Logged(), Lines("write jar to:", temp));
}

// A link put at the lock file's name, to have the launcher empty another file: the file
// keeps its bytes (the lock is never truncated, nor opened through a symbolic link) and
// the launch runs all the same. Symbolic links where this system lets the test make them
// (not under Wine, which cannot: that row says so and is skipped); a second name of the
// file on both builds.
TEST_F(TempJarTest, ALinkAtTheLockFileLeavesItsTargetAlone) {
  const std::string plain = testing_support::BinaryBody(5000, 13);
  WriteBytes(work / "main.jar", Scrambled(plain));
  const fs::path lock = fs::path(TempPath(work.Path())) += ".lock";
  for (bool symbolic : {true, false}) {
    SCOPED_TRACE(symbolic ? "symbolic link" : "hard link");
    TempDir elsewhere;
    const fs::path victim = elsewhere / "someone-elses.txt";
    WriteBytes(victim, "not the launcher's to empty");
    std::error_code ec;
    fs::remove(lock, ec);
    if (symbolic) fs::create_symlink(victim, lock, ec);
    else fs::create_hard_link(victim, lock, ec);
    if (ec || (symbolic && !fs::is_symlink(lock))) {
      std::cout << "[ SKIPPED  ] " << (symbolic ? "symbolic" : "hard") << " link: cannot be made here\n";
      continue;
    }
    {
      TempJar jar = Prepared(work.Path());
      EXPECT_EQ(jar.path, WideOf(TempPath(work.Path())));
      EXPECT_TRUE(ReadBytes(PathOf(jar.path)) == plain);
    }
    EXPECT_EQ(ReadBytes(victim), "not the launcher's to empty");
    EXPECT_FALSE(fs::is_symlink(lock));
    Logged();
  }
}

// A launch that runs from the temporary jar keeps it as it is: another launch of the same
// installation with the same jar shares it, one with a newer jar writes a file of its own.
TEST_F(TempJarTest, RunningLaunchKeepsItsJar) {
  const std::string old = testing_support::BinaryBody(200000, 21);
  const std::string next = testing_support::BinaryBody(200000, 22);
  WriteBytes(work / "main.jar", Scrambled(old));
  const fs::path temp = TempPath(work.Path());
  {
    // Another launcher hashing the stored jar at this moment is no obstacle.
    platform::File hashing;
    ASSERT_TRUE(hashing.Open(WideOf(work / "main.jar"), platform::OpenMode::kReadDenyWriters));
    TempJar running = Prepared(work.Path());
    hashing.Close();
    ASSERT_EQ(running.path, WideOf(temp));
    EXPECT_TRUE(running.hold.IsOpen());
    Logged();

    TempJar sameJar = Prepared(work.Path());
    EXPECT_EQ(sameJar.path, WideOf(temp));
    EXPECT_EQ(Logged(), Lines("reuse checked jar:", temp));

    WriteBytes(work / "main.jar", Scrambled(next));
    TempJar newer = Prepared(work.Path());
    ASSERT_NE(newer.path, WideOf(temp));
    EXPECT_EQ(PathOf(newer.path).parent_path(), appData.Path());
    EXPECT_EQ(Logged(), (std::vector<std::string>{platform::WideToAnsi(WideOf(temp)),
                                                  "write jar to:" + platform::WideToAnsi(newer.path)}));
    EXPECT_TRUE(ReadBytes(PathOf(newer.path)) == next);
    EXPECT_TRUE(ReadBytes(temp) == old) << "replaced under a running launch";
  }
  // Once no launch runs from it, it is brought up to date.
  EXPECT_EQ(Prepared(work.Path()).path, WideOf(temp));
  EXPECT_EQ(Logged(), Lines("write jar to:", temp));
  EXPECT_TRUE(ReadBytes(temp) == next);
}

// Two installations started together, each launching while the other writes: each gets
// its own file, holding its own jar.
TEST_F(TempJarTest, TwoInstallationsAtOnceGetTheirOwnJars) {
  TempDir otherWork;
  const fs::path works[] = {work.Path(), otherWork.Path()};
  EXPECT_NE(TempPath(works[0]), TempPath(works[1]));
  std::vector<std::string> failures[2];
  auto installation = [&](int which) {
    for (int round = 0; round < 8; ++round) {
      const std::string plain = testing_support::BinaryBody(2 * 1024 * 1024 + round, 100 * which + round);
      WriteBytes(works[which] / "main.jar", Scrambled(plain));
      std::variant<TempJar, TempJarFailure> result = Prepare(works[which]);
      if (!std::holds_alternative<TempJar>(result)) {
        failures[which].push_back("round " + std::to_string(round) + ": no jar");
        continue;
      }
      const TempJar& jar = std::get<TempJar>(result);
      if (jar.path != WideOf(TempPath(works[which])))
        failures[which].push_back("round " + std::to_string(round) + ": " + base::WideToUtf8(jar.path));
      if (ReadBytes(PathOf(jar.path)) != plain)
        failures[which].push_back("round " + std::to_string(round) + ": other bytes");
    }
  };
  std::thread one(installation, 0), two(installation, 1);
  one.join();
  two.join();
  EXPECT_TRUE(failures[0].empty()) << failures[0].front();
  EXPECT_TRUE(failures[1].empty()) << failures[1].front();
}

// Without a temporary jar of the stored jar's bytes the launch has no jar: an older
// temporary jar is never run in its place.
TEST_F(TempJarTest, NothingWrittenMeansNoJar) {
  const std::string plain = testing_support::BinaryBody(1000, 31);
  const fs::path temp = TempPath(work.Path());
  WriteBytes(temp, "the jar of an earlier launch");

  WriteBytes(work / "main.jar", "");
  EXPECT_EQ(std::get<TempJarFailure>(Prepare(work.Path())), TempJarFailure::kNoStoredJar);
  fs::remove(work / "main.jar");
  EXPECT_EQ(std::get<TempJarFailure>(Prepare(work.Path())), TempJarFailure::kNoStoredJar);
  EXPECT_TRUE(Logged().empty());

  WriteBytes(work / "main.jar", Scrambled(plain));
  // Nothing can be written beside it: here a folder where its lock file belongs.
  fs::create_directories(fs::path(temp) += ".lock");
  EXPECT_EQ(std::get<TempJarFailure>(Prepare(work.Path())), TempJarFailure::kNotWritten);
  std::vector<std::string> logged = Logged();
  ASSERT_EQ(logged.size(), 3u);
  EXPECT_EQ(logged[0], platform::WideToAnsi(WideOf(temp)));
  EXPECT_EQ(logged[1], "write jar fail:" + platform::WideToAnsi(WideOf(temp)));
  EXPECT_EQ(logged[2].rfind("exception:", 0), 0u);
  EXPECT_EQ(ReadBytes(temp), "the jar of an earlier launch");

  // No local application data folder, or one that cannot be made.
  EXPECT_EQ(std::get<TempJarFailure>(PrepareTempJar(WideOf(work / "main.jar"), WideOf(work.Path()), L"")),
            TempJarFailure::kNotWritten);
  EXPECT_EQ(Logged(), std::vector<std::string>{"SHGetSpecialFolderLocation fail !"});
  WriteBytes(logs / "a-file", "in the folder's place");
  EXPECT_EQ(std::get<TempJarFailure>(
                PrepareTempJar(WideOf(work / "main.jar"), WideOf(work.Path()), WideOf(logs / "a-file" / "data"))),
            TempJarFailure::kNotWritten);
  EXPECT_FALSE(fs::exists(logs / "a-file" / "data"));
}
