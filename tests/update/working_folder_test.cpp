#include "update/working_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <variant>
#include <vector>

#include "base/text.h"
#include "branding.h"
#include "diagnostics/program_version.h"
#include "launch/user_texts.h"
#include "platform/platform.h"
#include "support/test_support.h"
#include "update/update_worker.h"

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
    EXPECT_EQ(WorkingFolderName(NativeSeparators(c.exe)), c.folder) << base::WideToUtf8(c.exe);
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

namespace {

std::vector<std::string> Entries(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
    names.push_back(std::filesystem::relative(entry.path(), folder).generic_string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

// A Documents folder that the system names but that does not exist (an XDG setting that
// points nowhere, a folder removed by hand) is made, with every level above it.
TEST(WorkingFolder, EveryMissingLevelIsMade) {
  TempDir dir;
  const std::wstring documents = (dir / "home" / "user" / "Documents").wstring();
  const std::wstring exe = NativeSeparators(L"C:\\Tools\\Launcher.exe");
  const std::wstring expected = platform::JoinPath(documents, WorkingFolderName(exe));
  EXPECT_EQ(PrepareWorkingFolder(documents, exe), expected);
  EXPECT_TRUE(platform::IsDirectory(expected));
}

// When the working folder cannot be made (a file stands in its place, or in the place of a
// folder above it), the run fails at its first step and writes nothing anywhere: not in
// the current folder, not beside the file.
TEST(WorkingFolder, FileInItsPlaceFailsTheRunAndNothingIsWritten) {
  const std::wstring exe = NativeSeparators(L"C:\\Tools\\Launcher.exe");
  for (bool documentsIsAFile : {false, true}) {
    SCOPED_TRACE(documentsIsAFile ? "Documents is a file" : "the working folder is a file");
    TempDir documents, current, install;
    std::wstring docs = documents.WPath();
    if (documentsIsAFile) {
      testing_support::WriteBytes(documents / "Documents", "a file");
      docs = (documents / "Documents").wstring();
    } else {
      testing_support::WriteBytes(documents / base::WideToUtf8(WorkingFolderName(exe)), "a file");
    }
    EXPECT_EQ(PrepareWorkingFolder(docs, exe), std::nullopt);

    testing_support::ScopedCurrentDir cd(current.Path());
    UpdateSettings settings;
    settings.executablePath = (install / "Tools" / "Launcher.exe").wstring();
    settings.documentsFolder = docs;
    settings.runtimeBaseUrl = L"http://127.0.0.1:9/install/runtime/";
    LaunchState state;
    std::variant<LaunchPlan, UpdateFailure> result = RunUpdate(settings, state);
    ASSERT_TRUE(std::holds_alternative<UpdateFailure>(result));
    EXPECT_EQ(std::get<UpdateFailure>(result), UpdateFailure::kWorkingFolder);
    EXPECT_EQ(std::wstring(user_texts::ForUpdateFailure(UpdateFailure::kWorkingFolder)), L"创建文档目录出错！");
    EXPECT_TRUE(Entries(current.Path()).empty());
    EXPECT_TRUE(Entries(install.Path()).empty());
    EXPECT_EQ(Entries(documents.Path()).size(), 1u);
  }
}

TEST(ProgramVersion, IsTheBrandedVersion) {
  const auto& v = branding::kVersion;
  std::wstring expected = std::to_wstring(v[0]) + L"." + std::to_wstring(v[1]) + L"." +
                          std::to_wstring(v[2]) + L"." + std::to_wstring(v[3]);
  EXPECT_EQ(ProgramVersionText(), expected);
}

