#include "update/working_folder.h"

#include <gtest/gtest.h>

#include "branding.h"
#include "diagnostics/program_version.h"
#include "platform/platform.h"
#include "support/test_support.h"

using testing_support::NativeSeparators;
using testing_support::TempDir;

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

TEST(WorkingFolder, PrepareCreatesItInTheUsersDocuments) {
  std::wstring documents = platform::DocumentsFolder();
  ASSERT_FALSE(documents.empty());
  ASSERT_FALSE(platform::IsPathSeparator(documents.back())) << "trailing separator not removed";
  std::wstring exe = platform::ExecutablePath();
  std::wstring expected = documents + platform::kPathSeparator + WorkingFolderName(exe);
  std::filesystem::remove_all(expected);
  std::wstring before = platform::CurrentDirectory();

  EXPECT_EQ(PrepareWorkingFolder(documents, exe), expected);
  EXPECT_TRUE(platform::IsDirectory(expected));
  EXPECT_EQ(PrepareWorkingFolder(documents, exe), expected);  // an existing one is kept
  // The folder is handed on as a value: the current directory stays where it was.
  EXPECT_EQ(platform::CurrentDirectory(), before);
  EXPECT_EQ(PrepareWorkingFolder(L"", exe), std::nullopt);
  std::filesystem::remove_all(expected);
}

TEST(ProgramVersion, IsTheBrandedVersion) {
  const auto& v = branding::kVersion;
  std::wstring expected = std::to_wstring(v[0]) + L"." + std::to_wstring(v[1]) + L"." +
                          std::to_wstring(v[2]) + L"." + std::to_wstring(v[3]);
  EXPECT_EQ(ProgramVersionText(), expected);
}

