// The steps of the in-process launch that need no Java VM, in this test process.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "base/text.h"
#include "branding.h"
#include "javahost/java_launch_internal.h"
#include "javahost/temp_jar.h"
#include "launch_case_support.h"
#include "platform/dynlib.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testing_support::NativeSeparators;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

std::string Text(const std::vector<std::uint8_t>& b) { return {b.begin(), b.end()}; }

std::string Scrambled(const std::string& plain) {
  std::string out = plain;
  for (char& c : out) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ branding::kJarKey);
  return out;
}

std::vector<std::string> FolderNames(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(ReadJarFile, UnscramblesTheWholeFile) {
  TempDir dir;
  // Every byte value, and more than one read's worth, so that no byte is skipped or doubled.
  std::string plain;
  for (int i = 0; i < 300000; ++i) plain += static_cast<char>((i * 7 + i / 256) & 0xFF);
  WriteBytes(dir / "main.jar", Scrambled(plain));
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(ReadJarFile((dir / "main.jar").wstring(), &bytes));
  EXPECT_TRUE(Text(bytes) == plain);
}

// Two launchers starting together both read the stored jar.
TEST(ReadJarFile, AnotherReaderIsNoObstacle) {
  TempDir dir;
  WriteBytes(dir / "main.jar", Scrambled("jar"));
  platform::File other;
  ASSERT_TRUE(other.Open((dir / "main.jar").wstring(), platform::OpenMode::kReadDenyWriters));
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(ReadJarFile((dir / "main.jar").wstring(), &bytes));
  EXPECT_EQ(Text(bytes), "jar");
}

TEST(ReadJarFile, MissingOrEmptyFileYieldsNothing) {
  TempDir dir;
  WriteBytes(dir / "empty.jar", "");
  fs::create_directories(dir / "folder.jar");
  for (const char* name : {"missing.jar", "empty.jar", "folder.jar"}) {
    std::vector<std::uint8_t> bytes;
    EXPECT_FALSE(ReadJarFile((dir / name).wstring(), &bytes)) << name;
    EXPECT_TRUE(bytes.empty()) << name;
  }
}

// The stored jar as the launch reads it: scrambled, open for reading with writers kept out.
static platform::File StoredSource(const fs::path& path, const std::string& plain) {
  WriteBytes(path, Scrambled(plain));
  platform::File file;
  EXPECT_TRUE(file.Open(path.wstring(), platform::OpenMode::kReadDenyWriters));
  return file;
}

TEST(WriteJarReplacing, WritesANewFileAndLeavesNothingElse) {
  TempDir dir, sources;
  std::wstring path = (dir / "_Temp").wstring();
  platform::File first = StoredSource(sources / "first.jar", "first jar");
  EXPECT_EQ(WriteJarReplacing(path, first), path);
  EXPECT_EQ(ReadBytes(dir / "_Temp"), "first jar");
  // A shorter jar over a longer one: no tail of the old one may stay.
  platform::File shorter = StoredSource(sources / "second.jar", "2nd");
  EXPECT_EQ(WriteJarReplacing(path, shorter), path);
  EXPECT_EQ(ReadBytes(dir / "_Temp"), "2nd");
  EXPECT_EQ(FolderNames(dir.Path()), std::vector<std::string>{"_Temp"});
  // The same source again, read from its start whatever was read of it before.
  EXPECT_EQ(WriteJarReplacing(path, shorter), path);
  EXPECT_EQ(ReadBytes(dir / "_Temp"), "2nd");
}

// The jar goes through a buffer of a fixed size: every byte value, across the ends of
// several chunks and a short last one, arrives once and unscrambled.
TEST(WriteJarReplacing, StreamsJarsLargerThanItsBufferWhole) {
  TempDir dir;
  std::string plain;
  for (int i = 0; i < 3 * 1024 * 1024 + 12345; ++i) plain += static_cast<char>((i * 7 + i / 256) & 0xFF);
  platform::File source = StoredSource(dir / "main.jar", plain);
  std::wstring written = WriteJarReplacing((dir / "_Temp").wstring(), source);
  ASSERT_EQ(written, (dir / "_Temp").wstring());
  EXPECT_TRUE(ReadBytes(dir / "_Temp") == plain);
}

// A second copy of the application still running from the temporary jar must keep reading
// the jar it started with, whole; the new launch must get the new jar, wherever it had to go.
TEST(WriteJarReplacing, FileHeldOpenByARunningCopyIsNeverTruncated) {
  for (auto mode : {platform::OpenMode::kReadShared, platform::OpenMode::kReadExclusive}) {
    TempDir dir;
    std::wstring path = (dir / "_Temp").wstring();
    std::string old(100000, 'o');
    WriteBytes(dir / "_Temp", old);
    platform::File running;
    ASSERT_TRUE(running.Open(path, mode));

    platform::File source = StoredSource(dir / "main.jar", "the updated jar");
    std::wstring written = WriteJarReplacing(path, source);
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(fs::path(written).parent_path(), dir.Path());
    EXPECT_EQ(ReadBytes(written), "the updated jar");

    std::string seen(old.size() + 1, '\0');
    size_t total = 0, got = 0;
    while (running.Read(seen.data() + total, seen.size() - total, &got) && got > 0) total += got;
    seen.resize(total);
    EXPECT_TRUE(seen == old) << "the running copy read " << total << " bytes";
  }
}

TEST(WriteJarReplacing, UnreplaceableTempGoesToAUniqueFileBesideIt) {
  TempDir dir, sources;
  fs::create_directories(dir / "_Temp" / "in-the-way");  // nothing can be renamed over a folder
  std::wstring path = (dir / "_Temp").wstring();
  platform::File source = StoredSource(sources / "main.jar", "jar bytes");
  std::wstring first = WriteJarReplacing(path, source);
  std::wstring second = WriteJarReplacing(path, source);
  ASSERT_FALSE(first.empty());
  EXPECT_NE(first, path);
  EXPECT_NE(first, second);
  EXPECT_EQ(fs::path(first).parent_path(), dir.Path());
  EXPECT_EQ(fs::path(first).filename().wstring().rfind(L"_Temp", 0), 0u);
  EXPECT_EQ(ReadBytes(first), "jar bytes");
  EXPECT_EQ(ReadBytes(second), "jar bytes");
  EXPECT_EQ(FolderNames(dir.Path()).size(), 3u) << "nothing half-written stays beside them";
}

TEST(WriteJarReplacing, NoFolderWritesNothing) {
  TempDir dir, sources;
  platform::File source = StoredSource(sources / "main.jar", "jar bytes");
  platform::Error err;
  EXPECT_EQ(WriteJarReplacing((dir / "absent" / "_Temp").wstring(), source, &err), L"");
  EXPECT_FALSE(err.message.empty());
  EXPECT_TRUE(FolderNames(dir.Path()).empty());
}

TEST(JvmLoadFolder, CutsAtTheSecondSeparatorFromTheEnd) {
  struct Row {
    std::wstring path, folder;
  } rows[] = {
      {NativeSeparators(L"C:\\A\\java\\bin\\client\\jvm.dll"), NativeSeparators(L"C:\\A\\java\\bin")},
      {L"C:/A/java/bin/client/jvm.dll", L"C:/A/java/bin"},
      {L"/opt/app/java/lib/server/libjvm.so", L"/opt/app/java/lib"},
      {NativeSeparators(L"client\\jvm.dll"), NativeSeparators(L"client\\jvm.dll")},  // one: whole
      {L"jvm.dll", L"jvm.dll"},
      {L"", L""},
      {NativeSeparators(L"\\bin\\jvm.dll"), L""},
  };
  for (const Row& row : rows)
    EXPECT_EQ(javahost::JvmLoadFolder(row.path), row.folder) << base::WideToUtf8(row.path);
}

// A runtime laid out as the launcher expects, whose "VM library" is the test library.
class LoadJvmLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(runtime / "bin" / "client");
    fs::copy_file(launch_cases::NotAJvmLibrary(), library);
  }
  TempDir dir;
  fs::path runtime = dir / "java";
  fs::path library = runtime / "bin" / "client" / launch_cases::NotAJvmLibrary().filename();
};

TEST_F(LoadJvmLibraryTest, LoadsWithoutMovingTheCurrentFolder) {
  // The forward-slash form of the path must be cut the same way.
  std::wstring slashed = library.wstring();
  for (wchar_t& c : slashed)
    if (platform::IsPathSeparator(c)) c = L'/';
  for (const std::wstring& path : {library.wstring(), slashed}) {
    TempDir elsewhere;
    testing_support::ScopedCurrentDir cd(elsewhere.Path());
    platform::Error err;
    platform::DynamicLibrary loaded = javahost::LoadJvmLibrary(path, &err);
    ASSERT_TRUE(loaded.IsLoaded()) << base::WideToUtf8(err.message);
    EXPECT_TRUE(fs::equivalent(fs::current_path(), elsewhere.Path()));
    auto loadedIn = reinterpret_cast<const wchar_t* (*)()>(loaded.Symbol("TestLibraryLoadedIn"));
    ASSERT_NE(loadedIn, nullptr);
    EXPECT_TRUE(fs::equivalent(fs::path(loadedIn()), elsewhere.Path())) << fs::path(loadedIn()).string();
    EXPECT_EQ(loaded.Symbol("JNI_CreateJavaVM"), nullptr);
    loaded.Unload();
    // The next round loads a fresh copy: a loaded module would not run its start-up again.
    fs::remove(library);
    fs::copy_file(launch_cases::NotAJvmLibrary(), library);
  }
}

#ifdef _WIN32
// Windows only: Linux libraries carry their own search path ($ORIGIN in libjvm.so), and the
// system's loader searches nothing the launcher could add to.
TEST_F(LoadJvmLibraryTest, FindsWhatTheLibraryImportsInTheRuntimesBinFolder) {
  const fs::path built = launch_cases::LaunchDir() / "dependency";
  const fs::path dependent = runtime / "bin" / "server" / "dependent.dll";
  fs::create_directories(dependent.parent_path());
  fs::copy_file(built / "dependent.dll", dependent);
  {
    // Without its import in bin the load fails: the test sees where the import comes from.
    platform::Error err;
    EXPECT_FALSE(javahost::LoadJvmLibrary(dependent.wstring(), &err).IsLoaded());
  }
  fs::copy_file(built / "runtime_dependency.dll", runtime / "bin" / "runtime_dependency.dll");
  // A copy beside the current folder must not be what makes it work.
  TempDir elsewhere;
  testing_support::ScopedCurrentDir cd(elsewhere.Path());
  platform::Error err;
  platform::DynamicLibrary loaded = javahost::LoadJvmLibrary(dependent.wstring(), &err);
  ASSERT_TRUE(loaded.IsLoaded()) << base::WideToUtf8(err.message);
  auto call = reinterpret_cast<int (*)()>(loaded.Symbol("TestLibraryDependency"));
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call(), 42);
  EXPECT_TRUE(fs::equivalent(fs::current_path(), elsewhere.Path()));
}
#endif

TEST_F(LoadJvmLibraryTest, FailedLoadGivesTheSystemsErrorAndLeavesTheCurrentFolder) {
  WriteBytes(runtime / "bin" / "client" / "garbage.lib", "this is no library at all");
  for (const fs::path& path : {runtime / "bin" / "client" / "garbage.lib", runtime / "bin" / "missing.lib",
                               dir / "no" / "such" / "folder" / "x.lib"}) {
    testing_support::ScopedCurrentDir cd(dir.Path());
    platform::Error err;
    EXPECT_FALSE(javahost::LoadJvmLibrary(path.wstring(), &err).IsLoaded()) << path.string();
    EXPECT_FALSE(err.message.empty()) << path.string();
    EXPECT_TRUE(fs::equivalent(fs::current_path(), dir.Path())) << path.string();
  }
}

TEST(BuildJvmOptions, ClassPathEntriesInOrderAtFullLength) {
  const std::wstring sep(1, platform::kClassPathSeparator);
  std::wstring work = NativeSeparators(L"C:\\Users\\u\\Documents\\quorvane-app");
  std::wstring tempJar = NativeSeparators(L"C:\\Users\\u\\AppData\\Local\\_Temp");
  std::vector<std::wstring> longPath{work, tempJar};
  std::wstring longText = work + sep + tempJar;
  for (int i = 0; i < 200; ++i) {
    longPath.push_back(work + NativeSeparators(L"\\lib\\library-number-") + std::to_wstring(i) + L".jar");
    longText += sep + longPath.back();
  }
  struct Row {
    std::vector<std::wstring> classPath;
    std::wstring expected;
  } rows[] = {
      {{work, tempJar, L"a.jar", L"b.jar"}, L"-Djava.class.path=" + work + sep + tempJar + sep + L"a.jar" + sep + L"b.jar"},
      {{work, tempJar}, L"-Djava.class.path=" + work + sep + tempJar},
      {{work, L"", L"a.jar"}, L"-Djava.class.path=" + work + sep + sep + L"a.jar"},  // no local app data folder
      {longPath, L"-Djava.class.path=" + longText},
  };
  for (const Row& row : rows) {
    javahost::JvmOptions built = javahost::BuildJvmOptions(row.classPath);
    EXPECT_EQ(built.classPathOption, row.expected);
    std::vector<std::string> expected;
    for (const char* option : branding::kJvmOptions)
      expected.push_back(std::string(option) == "-Djava.class.path" ? platform::WideToAnsi(row.expected) : option);
    EXPECT_EQ(built.options, expected);
  }
}

// A user name in a script that the ANSI code page lacks must still give a usable class-path
// element (Windows: the short name); never question marks.
TEST(BuildJvmOptions, ElementsOutsideTheCodePageStayUsable) {
  TempDir dir;
  fs::path folder = dir / launch_cases::PathOf(L"\u0645\u0644\u0641 \u0e44\u0e17\u0e22 user");
  fs::create_directories(folder);
  WriteBytes(folder / "_Temp", "jar");
  fs::create_directories(folder / launch_cases::PathOf(L"lib \u0e44\u0e17\u0e22"));
  WriteBytes(folder / launch_cases::PathOf(L"lib \u0e44\u0e17\u0e22") / "x.jar", "lib");

  std::string element = platform::PathInAnsiCodePage(launch_cases::WideOf(folder / "_Temp"));
  EXPECT_EQ(element.find('?'), std::string::npos) << element;
  EXPECT_TRUE(platform::FileExists(platform::ThreadAnsiToWide(element))) << element;

  // Each element is converted on its own.
  std::wstring lib = launch_cases::WideOf(folder / launch_cases::PathOf(L"lib \u0e44\u0e17\u0e22") / "x.jar");
  javahost::JvmOptions built =
      javahost::BuildJvmOptions({launch_cases::WideOf(folder), launch_cases::WideOf(folder / "_Temp"), lib});
  std::string classPath;
  for (const std::string& option : built.options)
    if (option.rfind("-Djava.class.path=", 0) == 0) classPath = option.substr(18);
  EXPECT_EQ(classPath.find('?'), std::string::npos) << classPath;
  std::string libElement = classPath.substr(classPath.rfind(static_cast<char>(platform::kClassPathSeparator)) + 1);
  EXPECT_TRUE(platform::FileExists(platform::ThreadAnsiToWide(libElement))) << libElement;
}
