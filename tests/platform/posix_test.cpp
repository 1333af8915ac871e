// Linux-only parts of the platform layer: XDG folders and UTF-8 text.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "base/text.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) saved_ = old, had_ = true;
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_) setenv(name_, saved_.c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  std::string saved_;
  bool had_ = false;
};
}  // namespace

TEST(PosixFolders, DocumentsFollowTheXdgRules) {
  TempDir home;
  ScopedEnv h("HOME", home.Path().c_str());
  ScopedEnv c("XDG_CONFIG_HOME", nullptr);
  // Neither user-dirs.dirs nor ~/Documents: the home itself.
  EXPECT_EQ(platform::DocumentsFolder(), home.WPath());
  fs::create_directories(home / "Documents");
  EXPECT_EQ(platform::DocumentsFolder(), (home / "Documents").wstring());
  // The desktop's own setting wins, with $HOME expanded and quotes removed.
  fs::create_directories(home / ".config");
  WriteBytes(home / ".config" / "user-dirs.dirs",
             "# written at login\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente/\"\n");
  EXPECT_EQ(platform::DocumentsFolder(), (home / "Dokumente").wstring());
  TempDir config;
  ScopedEnv c2("XDG_CONFIG_HOME", config.Path().c_str());
  WriteBytes(config / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"/srv/docs\"\n");
  EXPECT_EQ(platform::DocumentsFolder(), L"/srv/docs");
}

TEST(PosixFolders, LocalDataFollowsXdgDataHome) {
  TempDir home;
  ScopedEnv h("HOME", home.Path().c_str());
  {
    ScopedEnv d("XDG_DATA_HOME", "/srv/data/");
    EXPECT_EQ(platform::LocalAppDataFolder(), L"/srv/data");
  }
  ScopedEnv d("XDG_DATA_HOME", "relative/not/allowed");
  EXPECT_EQ(platform::LocalAppDataFolder(), (home / ".local" / "share").wstring());
}

TEST(PosixText, Utf8BothWays) {
  const std::wstring text = L"a\x4E2D\x00E9\x0001F600";
  const std::string utf8 = "a\xE4\xB8\xAD\xC3\xA9\xF0\x9F\x98\x80";
  EXPECT_EQ(platform::WideToAnsi(text), utf8);
  EXPECT_EQ(platform::ThreadAnsiToWide(utf8), text);
  // Broken input never throws and never swallows the rest.
  EXPECT_EQ(base::Utf8ToWide("a\xFF" "b\xE4\xB8"), L"a\xFFFD" L"b\xFFFD\xFFFD");
}

// No mode that makes a file writes through a symbolic link at its name, whether the link
// points to a file or nowhere yet, nor waits on a FIFO there. Linux only: Wine cannot make
// symbolic links (see win32_test.cpp), and the hard-link rows run on both builds
// (platform_test.cpp).
TEST(PosixFiles, NoWritingModeFollowsASymbolicLink) {
  const struct {
    const char* name;
    platform::OpenMode mode;
    bool opens;  // false: the open fails and the link stays as it is
  } modes[] = {
      {"new temporary file", platform::OpenMode::kCreateNewExclusive, false},
      {"lock file", platform::OpenMode::kOpenAlwaysShared, true},
      {"partial package", platform::OpenMode::kReadWriteKeepLocked, true},
      {"log", platform::OpenMode::kAppendSharedOwnFile, true},
  };
  for (const auto& m : modes) {
    for (const char* kind : {"to a file", "to nothing yet", "fifo"}) {
      SCOPED_TRACE(std::string(m.name) + ", " + kind);
      TempDir dir;
      const fs::path target = dir / "someone-elses.txt";
      const fs::path name = dir / "name";
      const bool fifo = std::string(kind) == "fifo";
      const bool targetExists = std::string(kind) == "to a file";
      if (targetExists) WriteBytes(target, "not the launcher's");
      if (fifo) ASSERT_EQ(mkfifo(name.c_str(), 0600), 0);
      else fs::create_symlink(target, name);
      platform::File file;
      ASSERT_EQ(file.Open(name.wstring(), m.mode), m.opens);
      if (m.opens) {
        ASSERT_TRUE(file.Write("own", 3));
        file.Close();
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(name)));
        EXPECT_EQ(testing_support::ReadBytes(name), "own");
      } else if (!fifo) {
        EXPECT_TRUE(fs::is_symlink(name));
      }
      if (targetExists) EXPECT_EQ(testing_support::ReadBytes(target), "not the launcher's");
      else EXPECT_FALSE(fs::exists(fs::symlink_status(target)));
    }
  }
}

// What the launcher makes under Documents and the local data folder is its user's alone.
TEST(PosixFolders, NewFoldersAreTheUsersAlone) {
  TempDir dir;
  fs::permissions(dir.Path(), fs::perms(0755));
  const fs::path deep = dir / "quorvane-App" / "lib" / "x";
  ASSERT_TRUE(platform::MakeDirectories(deep.wstring()));
  for (const fs::path& level : {dir / "quorvane-App", dir / "quorvane-App" / "lib", deep}) {
    struct stat st;
    ASSERT_EQ(stat(level.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << level;
  }
  // A folder that was there is left as it was.
  struct stat st;
  ASSERT_EQ(stat(dir.Path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
}
