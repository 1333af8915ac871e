#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "base/text.h"
#include "platform/atomic_file.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

TEST(Platform, ExecutablePathIsTheWholePathOfThisProgram) {
  std::wstring exe = platform::ExecutablePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_TRUE(fs::exists(exe));
  EXPECT_NE(fs::path(exe).filename().wstring().find(L"platform_tests"), std::wstring::npos);
}

TEST(Platform, FoldersComeWithoutTrailingSeparators) {
  for (const std::wstring& folder : {platform::DocumentsFolder(), platform::LocalAppDataFolder()}) {
    ASSERT_FALSE(folder.empty());
    EXPECT_FALSE(platform::IsPathSeparator(folder.back())) << base::WideToUtf8(folder);
  }
}

TEST(Platform, DirectoriesAndCurrentDirectory) {
  TempDir dir;
  std::wstring sub = dir.WPath() + platform::kPathSeparator + L"\x4E2D\x6587 folder";
  EXPECT_FALSE(platform::IsDirectory(sub));
  EXPECT_TRUE(platform::MakeDirectory(sub));
  EXPECT_TRUE(platform::IsDirectory(sub));
  EXPECT_FALSE(platform::MakeDirectory(sub + platform::kPathSeparator + L"a" +
                                         platform::kPathSeparator + L"b"));  // one level only
  std::wstring deep = sub + platform::kPathSeparator + L"a" + platform::kPathSeparator + L"b";
  EXPECT_TRUE(platform::MakeDirectories(deep));
  EXPECT_TRUE(platform::IsDirectory(deep));
  EXPECT_TRUE(platform::MakeDirectories(deep));  // already there
  EXPECT_FALSE(platform::MakeDirectories(L""));
  std::wstring before = platform::CurrentDirectory();
  ASSERT_TRUE(platform::ChangeCurrentDirectory(sub));
  EXPECT_EQ(platform::CurrentDirectory(), sub);
  EXPECT_FALSE(platform::ChangeCurrentDirectory(sub + L"-missing"));
  ASSERT_TRUE(platform::ChangeCurrentDirectory(before));
}

TEST(Platform, FilesReadWriteAndReportErrors) {
  TempDir dir;
  std::wstring path = (dir / "f.bin").wstring();
  platform::File file;
  platform::Error err;
  EXPECT_FALSE(file.Open(path, platform::OpenMode::kReadExclusive, &err));
  EXPECT_NE(err.code, 0u);
  EXPECT_FALSE(err.message.empty());

  ASSERT_TRUE(file.Open(path, platform::OpenMode::kCreateNewExclusive));
  std::string bytes(100000, 'q');
  ASSERT_TRUE(file.Write(bytes.data(), bytes.size()));
  EXPECT_TRUE(file.FlushToDisk());
  file.Close();

  ASSERT_TRUE(file.Open(path, platform::OpenMode::kReadShared));
  EXPECT_EQ(file.Length(), 100000);
  std::string back(200000, '\0');
  size_t got = 0, total = 0;
  do {
    ASSERT_TRUE(file.Read(back.data() + total, back.size() - total, &got));
    total += got;
  } while (got != 0);
  EXPECT_EQ(total, 100000u);
  file.Close();

  // A new file is never made over an existing one; the lock files' mode keeps what it finds.
  EXPECT_FALSE(file.Open(path, platform::OpenMode::kCreateNewExclusive));
  ASSERT_TRUE(file.Open(path, platform::OpenMode::kOpenAlwaysShared));
  file.Close();
  EXPECT_EQ(fs::file_size(path), 100000u);
  EXPECT_TRUE(platform::FileExists(path));
  EXPECT_FALSE(platform::FileExists(dir.WPath()));
  EXPECT_TRUE(platform::RemoveFile(path));
  EXPECT_FALSE(platform::FileExists(path));
}

TEST(AtomicFile, ReplacesWholeAndLeavesNoTemporaryFiles) {
  TempDir dir;
  std::wstring path = (dir / "main.jar").wstring();
  WriteBytes(path, "old content");
  std::string fresh(3 * 1024 * 1024, 'n');
  ASSERT_TRUE(platform::WriteFileAtomically(path, fresh.data(), fresh.size()));
  EXPECT_EQ(ReadBytes(path), fresh);
  ASSERT_TRUE(platform::WriteFileAtomically(path, "", 0));
  EXPECT_EQ(ReadBytes(path), "");
  size_t entries = 0;
  for (auto& e : fs::directory_iterator(dir.Path())) (void)e, ++entries;
  EXPECT_EQ(entries, 1u);
}

TEST(AtomicFile, LeftoversOfEndedProcessesAreRemovedOnTheNextWrite) {
  TempDir dir;
  const std::string own = std::to_string(platform::ProcessId());
  // No process has this id on either system (Windows ids are multiples of 4).
  const std::string gone = "4000001";
  ASSERT_FALSE(platform::ProcessIsRunning(4000001));
  ASSERT_TRUE(platform::ProcessIsRunning(platform::ProcessId()));
  const char* keep[] = {"main.jar.part-x-1", "main.jar.partial", "main.jar.part-", "other.jar.part-4000001-0",
                        "main.jar.run-4000001-0", "main.jar.part-4000001-FEDCBA9876543210"};
  for (const char* name : keep) WriteBytes(dir / name, "keep");
  WriteBytes(dir / ("main.jar.part-" + own + "-7"), "in use by this process");
  WriteBytes(dir / ("main.jar.part-" + gone + "-0"), "half a jar from a killed run");
  WriteBytes(dir / ("main.jar.part-" + gone + "-12"), "another");
  WriteBytes(dir / ("main.jar.part-" + gone + "-0123456789abcdef"), "one of today's names");

  ASSERT_TRUE(platform::WriteFileAtomically((dir / "main.jar").wstring(), "new", 3));
  EXPECT_EQ(ReadBytes(dir / "main.jar"), "new");
  EXPECT_FALSE(fs::exists(dir / ("main.jar.part-" + gone + "-0")));
  EXPECT_FALSE(fs::exists(dir / ("main.jar.part-" + gone + "-12")));
  EXPECT_FALSE(fs::exists(dir / ("main.jar.part-" + gone + "-0123456789abcdef")));
  EXPECT_TRUE(fs::exists(dir / ("main.jar.part-" + own + "-7")));
  for (const char* name : keep) EXPECT_TRUE(fs::exists(dir / name)) << name;

  // Relative names resolve in the current folder, as the worker's do.
  WriteBytes(dir / ("lib.jar.part-" + gone + "-1"), "x");
  testing_support::ScopedCurrentDir cd(dir.Path());
  platform::RemoveStaleSiblings(L"lib.jar", L"part");
  EXPECT_FALSE(fs::exists(dir / ("lib.jar.part-" + gone + "-1")));
  auto names = platform::ListDirectory(L"");
  EXPECT_NE(std::find(names.begin(), names.end(), L"main.jar"), names.end());
}

TEST(AtomicFile, FailureLeavesTheTargetUntouched) {
  TempDir dir;
  platform::Error err;
  std::wstring inMissingFolder = (dir / "nope" / "main.jar").wstring();
  EXPECT_FALSE(platform::WriteFileAtomically(inMissingFolder, "x", 1, &err));
  EXPECT_FALSE(err.message.empty());
  // A folder in the way of the name: the rename fails, the folder stays, no debris.
  fs::create_directories(dir / "main.jar" / "inside");
  EXPECT_FALSE(platform::WriteFileAtomically((dir / "main.jar").wstring(), "x", 1));
  EXPECT_TRUE(fs::is_directory(dir / "main.jar" / "inside"));
  size_t entries = 0;
  for (auto& e : fs::directory_iterator(dir.Path())) (void)e, ++entries;
  EXPECT_EQ(entries, 1u);
  EXPECT_NE(platform::UniqueSiblingName(L"a", L"t"), platform::UniqueSiblingName(L"a", L"t"));
}

TEST(Paths, FolderFileNameAndJoin) {
  using testing_support::NativeSeparators;
  const struct {
    std::wstring path, folder, name;
  } cases[] = {
      {L"C:\\a\\b\\c.jar", L"C:\\a\\b", L"c.jar"},
      {L"C:\\c.jar", L"C:\\", L"c.jar"},  // a drive root keeps its separator
      {L"\\c.jar", L"\\", L"c.jar"},      // so does the root
      {L"c.jar", L"", L"c.jar"},
      {L"a\\b\\", L"a\\b", L""},
  };
  for (const auto& c : cases) {
    std::wstring path = NativeSeparators(c.path);
    EXPECT_EQ(platform::FolderOf(path), NativeSeparators(c.folder)) << base::WideToUtf8(path);
    EXPECT_EQ(platform::FileNameOf(path), c.name) << base::WideToUtf8(path);
  }
  EXPECT_EQ(platform::FolderOf(L"a/b/c.jar"), L"a/b");  // '/' counts on both systems
  EXPECT_EQ(platform::JoinPath(NativeSeparators(L"C:\\a"), L"t.log"), NativeSeparators(L"C:\\a\\t.log"));
  EXPECT_EQ(platform::JoinPath(NativeSeparators(L"C:\\"), L"t.log"), NativeSeparators(L"C:\\t.log"));
  EXPECT_EQ(platform::JoinPath(L"", L"t.log"), L"t.log");
  EXPECT_EQ(platform::ToNativeSeparators(L"lib/x/y.jar"), NativeSeparators(L"lib\\x\\y.jar"));
}

// What a cached hash relies on: the stamp stays while the file stays, and changes when the
// file is replaced by a rename or rewritten in place with bytes of the same length.
TEST(FileStamp, SeesReplacementAndSameSizeRewrites) {
  testing_support::TempDir dir;
  const std::wstring path = (dir / "main.jar").wstring();
  testing_support::WriteBytes(dir / "main.jar", "first content");
  platform::FileStamp first, again;
  ASSERT_TRUE(platform::StampOf(path, &first));
  ASSERT_TRUE(platform::StampOf(path, &again));
  EXPECT_EQ(first, again);
  EXPECT_EQ(first.size, 13);
  platform::File open;
  ASSERT_TRUE(open.Open(path, platform::OpenMode::kReadShared));
  ASSERT_TRUE(platform::StampOf(open, &again));
  EXPECT_EQ(first, again);
  open.Close();

  // Replaced by a rename: another file, whatever its times say.
  testing_support::WriteBytes(dir / "next", "other content");
  ASSERT_TRUE(platform::RenameOver((dir / "next").wstring(), path));
  platform::FileStamp renamed;
  ASSERT_TRUE(platform::StampOf(path, &renamed));
  EXPECT_NE(renamed.fileId, first.fileId);

  // Rewritten in place, same length: the times move on (the test waits past any granularity).
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  {
    platform::File w;
    ASSERT_TRUE(w.Open(path, platform::OpenMode::kOpenAlwaysShared));
    ASSERT_TRUE(w.Write("third content", 13));
  }
  platform::FileStamp rewritten;
  ASSERT_TRUE(platform::StampOf(path, &rewritten));
  EXPECT_EQ(rewritten.size, 13);
  EXPECT_NE(rewritten, renamed);

  platform::FileStamp none;
  EXPECT_FALSE(platform::StampOf((dir / "missing").wstring(), &none));
  EXPECT_FALSE(platform::StampOf(dir.WPath(), &none));  // a folder is no file
}

// The launch keeps its temporary jar by these locks: readers beside readers, a writer
// alone, whether the other opener is another process or this one.
TEST(FileLocks, SharedBesideSharedExclusiveAlone) {
  TempDir dir;
  const std::wstring path = (dir / "_Temp.lock").wstring();
  platform::File a, b;
  ASSERT_TRUE(a.Open(path, platform::OpenMode::kOpenAlwaysShared));
  ASSERT_TRUE(b.Open(path, platform::OpenMode::kOpenAlwaysShared));
  EXPECT_TRUE(a.TryLock(false));
  EXPECT_TRUE(b.TryLock(false));
  b.Unlock();
  EXPECT_FALSE(b.TryLock(true)) << "exclusive beside a shared one";
  a.Unlock();
  EXPECT_TRUE(b.TryLock(true));
  EXPECT_FALSE(a.TryLock(false));
  EXPECT_FALSE(a.TryLock(true));
  b.Close();  // closing ends the lock
  EXPECT_TRUE(a.TryLock(true));
}

// A file's stamp and the clock that the records compare it with tell the same time.
TEST(FileStamp, ClockIsTheStampsClock) {
  TempDir dir;
  std::int64_t before = platform::StampClockNow();
  WriteBytes(dir / "f", "now");
  platform::FileStamp stamp;
  ASSERT_TRUE(platform::StampOf((dir / "f").wstring(), &stamp));
  std::int64_t after = platform::StampClockNow();
  const std::int64_t second = platform::kStampTicksPerSecond;
  EXPECT_GT(stamp.modified, before - second);
  EXPECT_LT(stamp.modified, after + second);
  if (stamp.changed != 0) {
    EXPECT_GT(stamp.changed, before - second);
    EXPECT_LT(stamp.changed, after + second);
  }
}

// The mode t.log is opened with: a plain file keeps its lines and every write goes to its
// end, also after what another opener appended meanwhile; a folder is no log. (Links in
// its place: see the log's tests.)
TEST(Platform, AppendModeKeepsAPlainFileWritesAtItsEndAndRefusesAFolder) {
  TempDir dir;
  WriteBytes(dir / "t.log", std::string(5000, 'z'));
  platform::File file, other;
  ASSERT_TRUE(file.Open((dir / "t.log").wstring(), platform::OpenMode::kAppendSharedOwnFile));
  ASSERT_TRUE(other.Open((dir / "t.log").wstring(), platform::OpenMode::kAppendSharedOwnFile));
  ASSERT_TRUE(file.Write("one", 3));
  ASSERT_TRUE(other.Write("two", 3));
  ASSERT_TRUE(file.Write("three", 5));
  EXPECT_EQ(ReadBytes(dir / "t.log"), std::string(5000, 'z') + "onetwothree");
  // Emptied on purpose, the file takes the next lines from its start.
  ASSERT_TRUE(file.Resize(0));
  ASSERT_TRUE(other.Write("four", 4));
  file.Close();
  other.Close();
  EXPECT_EQ(ReadBytes(dir / "t.log"), "four");
  ASSERT_TRUE(file.Open((dir / "fresh.log").wstring(), platform::OpenMode::kAppendSharedOwnFile));
  file.Close();
  EXPECT_EQ(ReadBytes(dir / "fresh.log"), "");
  fs::create_directories(dir / "folder.log" / "inside");
  EXPECT_FALSE(file.Open((dir / "folder.log").wstring(), platform::OpenMode::kAppendSharedOwnFile));
  EXPECT_TRUE(fs::exists(dir / "folder.log" / "inside"));
}

// The slots of a file lock apart from each other and from the whole-file lock, by the same
// rules: what t.log's writers agree by.
TEST(FileLocks, SlotsAreLocksOfTheirOwn) {
  TempDir dir;
  const std::wstring path = (dir / "t.log").wstring();
  platform::File a, b;
  ASSERT_TRUE(a.Open(path, platform::OpenMode::kAppendSharedOwnFile));
  ASSERT_TRUE(b.Open(path, platform::OpenMode::kAppendSharedOwnFile));
  ASSERT_TRUE(a.TryLockSlot(0, true));
  EXPECT_FALSE(b.TryLockSlot(0, true));
  EXPECT_FALSE(b.TryLockSlot(0, false));
  EXPECT_TRUE(b.TryLockSlot(1, true)) << "another slot";
  EXPECT_TRUE(b.TryLock(true)) << "the whole-file lock";
  b.Unlock();
  EXPECT_FALSE(a.TryLockSlot(1, false));
  b.UnlockSlot(1);
  EXPECT_TRUE(a.TryLockSlot(1, false));
  EXPECT_TRUE(b.TryLockSlot(1, false)) << "shared beside shared";
  a.UnlockSlot(0);
  EXPECT_TRUE(b.TryLockSlot(0, true));
  b.Close();  // closing ends them all
  EXPECT_TRUE(a.TryLockSlot(0, true));
  // Writing is not hindered by any of them.
  EXPECT_TRUE(a.Write("line", 4));
  a.Close();
  EXPECT_EQ(ReadBytes(path), "line");
}

// Temporary names nobody can guess, so that nobody can put a link in their place beforehand.
TEST(AtomicFile, TemporaryNamesAreUnpredictable) {
  const std::wstring prefix = L"main.jar.part-" + std::to_wstring(platform::ProcessId()) + L"-";
  std::vector<std::wstring> names;
  for (int i = 0; i < 20; ++i) {
    std::wstring name = platform::UniqueSiblingName(L"main.jar", L"part");
    ASSERT_EQ(name.compare(0, prefix.size(), prefix), 0) << base::WideToUtf8(name);
    std::wstring random = name.substr(prefix.size());
    EXPECT_EQ(random.size(), 16u);
    EXPECT_EQ(random.find_first_not_of(L"0123456789abcdef"), std::wstring::npos);
    names.push_back(random);
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
  // Not a counter: the first digits of consecutive names differ as often as chance has it.
  int sameStart = 0;
  for (int i = 0; i < 20; ++i) {
    std::wstring x = platform::UniqueSiblingName(L"a", L"t"), y = platform::UniqueSiblingName(L"a", L"t");
    if (x.substr(0, x.size() - 4) == y.substr(0, y.size() - 4)) ++sameStart;
  }
  EXPECT_LT(sameStart, 3);
  std::uint8_t random[32] = {}, zeros[32] = {};
  ASSERT_TRUE(platform::RandomBytes(random, sizeof random));
  EXPECT_NE(std::memcmp(random, zeros, sizeof random), 0);
}

// A second name of another file in place of a file that is written (the partial package,
// t.log) is taken back and a file of its own made there; the other file keeps its bytes.
// Hard links can be made under Wine too, unlike symbolic links (those: posix_test.cpp).
TEST(Platform, WrittenFilesTakeNoSecondNameOfAnotherFile) {
  for (platform::OpenMode mode : {platform::OpenMode::kReadWriteKeepLocked, platform::OpenMode::kAppendSharedOwnFile}) {
    TempDir dir;
    WriteBytes(dir / "someone-elses.txt", "not the launcher's");
    fs::create_hard_link(dir / "someone-elses.txt", dir / "0123.pak.part");
    platform::File file;
    ASSERT_TRUE(file.Open((dir / "0123.pak.part").wstring(), mode));
    ASSERT_TRUE(file.Write("own", 3));
    file.Close();
    EXPECT_EQ(ReadBytes(dir / "someone-elses.txt"), "not the launcher's");
    EXPECT_EQ(ReadBytes(dir / "0123.pak.part"), "own");
    EXPECT_EQ(fs::hard_link_count(dir / "someone-elses.txt"), 1u);
  }
}
