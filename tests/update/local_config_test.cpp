#include "update/local_config.h"

#include <gtest/gtest.h>

#include "branding.h"
#include "diagnostics/log.h"
#include "platform/platform.h"
#include "shell/launch_state.h"
#include "support/test_support.h"

using testing_support::DecodeLogLines;
using testing_support::NativeSeparators;
using testing_support::ScopedCurrentDir;
using testing_support::TempDir;
using testing_support::WriteBytes;

TEST(WorkingFolder, NameFollowsTheExecutablesFolder) {
  const std::wstring word = branding::kProductWord;
  struct Case {
    std::wstring exe;
    std::wstring folder;
  } cases[] = {
      {L"C:\\Tools\\Launcher.exe", word + L"-Tools"},
      {L"D:\\" + word + L"2\\Launcher.exe", word + L"2"},
      {L"D:\\Apps\\Quorvane\\Launcher.exe", word + L"-Quorvane"},  // case-sensitive word
      {L"D:\\Apps\\my" + word + L"app\\Launcher.exe", L"my" + word + L"app"},
      {L"C:\\Launcher.exe", word},  // drive root
      {L"Launcher.exe", word},      // no separator at all
      {L"", word},
      {L"C:\\a\\\\Launcher.exe", word + L"-"},  // empty folder name
      {L"C:\\" + std::wstring(400, L'x') + L"\\deep\\Launcher.exe", word + L"-deep"},
      {L"C:\\Users\\" + std::wstring(300, L'y') + L"\\Launcher.exe", word + L"-" + std::wstring(300, L'y')},
  };
  for (const auto& c : cases)
    EXPECT_EQ(WorkingFolderName(NativeSeparators(c.exe)), c.folder) << platform::WideToUtf8(c.exe);
}

TEST(WorkingFolder, PrepareDocumentDirCreatesAndEntersIt) {
  std::wstring documents = platform::DocumentsFolder();
  ASSERT_FALSE(documents.empty());
  ASSERT_FALSE(platform::IsPathSeparator(documents.back())) << "trailing separator not removed";
  std::wstring expected = documents + platform::kPathSeparator +
                          WorkingFolderName(platform::ExecutablePath());
  std::filesystem::remove_all(expected);
  std::wstring before = platform::CurrentDirectory();

  EXPECT_EQ(PrepareDocumentDir(), 1);
  EXPECT_TRUE(platform::IsDirectory(expected));
  EXPECT_TRUE(std::filesystem::equivalent(platform::CurrentDirectory(), expected));
  EXPECT_EQ(PrepareDocumentDir(), 1);  // an existing folder is simply entered

  platform::ChangeCurrentDirectory(before);
  std::filesystem::remove_all(expected);
}

TEST(ProgramVersion, IsTheBrandedVersion) {
  const auto& v = branding::kVersion;
  std::wstring expected = std::to_wstring(v[0]) + L"." + std::to_wstring(v[1]) + L"." +
                          std::to_wstring(v[2]) + L"." + std::to_wstring(v[3]);
  EXPECT_EQ(GetProgramVersion(), expected);
  EXPECT_EQ(GetProgramVersion(), expected);  // cached
}

namespace {
struct ConfigCase {
  const char* name;
  std::string bytes;
  std::wstring mainUrl, versionUrl, libsUrl, jarName;
};
}  // namespace

TEST(Config, FirstLineGivesUrlsAndJarName) {
  const std::string url = "http://127.0.0.1:8000/app/main.jar";
  const std::wstring w = L"http://127.0.0.1:8000/app/";
  std::string long_line = "http://h/" + std::string(1200, 'x');
  ConfigCase cases[] = {
      {"CR LF and more lines", url + "\r\nsecond line\r\n", w + L"main.jar", w + L"update.txt", w + L"libs.txt", L"main.jar"},
      {"LF alone", url + "\nrest", w + L"main.jar", w + L"update.txt", w + L"libs.txt", L"main.jar"},
      {"CR alone", url + "\rrest", w + L"main.jar", w + L"update.txt", w + L"libs.txt", L"main.jar"},
      {"no line end", url, w + L"main.jar", w + L"update.txt", w + L"libs.txt", L"main.jar"},
      {"empty file", "", L"", L"", L"", L""},
      {"starts with a line end", "\r\n" + url, L"", L"", L"", L""},
      {"no slash", "main.jar\r\n", L"main.jar", L"", L"", L""},
      {"trailing slash", "http://h/app/\n", L"http://h/app/", L"http://h/app/update.txt", L"http://h/app/libs.txt", L""},
      {"spaces kept", "  http://h/a b/m.jar \t\n", L"  http://h/a b/m.jar \t", L"  http://h/a b/update.txt",
       L"  http://h/a b/libs.txt", L"m.jar \t"},
      {"cut at 1024 bytes", long_line, L"http://h/" + std::wstring(1015, L'x'), L"http://h/update.txt",
       L"http://h/libs.txt", std::wstring(1015, L'x')},
  };
  TempDir dir;
  for (const auto& c : cases) {
    WriteBytes(dir / "Config.ini", c.bytes);
    auto state = LaunchState::Create();
    EXPECT_EQ(LoadConfigFile((dir / "Config.ini").wstring()), 1) << c.name;
    EXPECT_EQ(state->MainUrl(), c.mainUrl) << c.name;
    EXPECT_EQ(state->PackageUrl(), c.mainUrl) << c.name;
    EXPECT_EQ(state->VersionUrl(), c.versionUrl) << c.name;
    EXPECT_EQ(state->LibsUrl(), c.libsUrl) << c.name;
    EXPECT_EQ(state->JarName(), c.jarName) << c.name;
  }
}

TEST(Config, MissingFileFailsWithOneLogLine) {
  TempDir dir;
  ScopedCurrentDir cd(dir.Path());
  theLog.RestartForTesting();
  auto state = LaunchState::Create();
  EXPECT_EQ(LoadConfigFile((dir / "Config.ini").wstring()), 0);
  auto lines = DecodeLogLines(dir / "t.log", branding::kLogKey);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(21, 10), "exception:");
  EXPECT_GT(lines[0].size(), 31u) << "the system's message is missing";
  EXPECT_TRUE(state->MainUrl().empty());
  theLog.RestartForTesting();
}

TEST(Config, LoadLocalConfigReadsTheFileBesideTheExecutable) {
  auto path = testing_support::ExecutableDir() / "Config.ini";
  WriteBytes(path, "http://h/dir/app.jar\r\n");
  TempDir elsewhere;
  ScopedCurrentDir cd(elsewhere.Path());  // the current folder plays no part
  auto state = LaunchState::Create();
  EXPECT_EQ(ConfigFilePath(), path.wstring());
  EXPECT_EQ(LoadLocalConfig(), 1);
  EXPECT_EQ(state->JarName(), L"app.jar");
  std::filesystem::remove(path);
  theLog.RestartForTesting();
  EXPECT_EQ(LoadLocalConfig(), 0);
  theLog.RestartForTesting();
}
