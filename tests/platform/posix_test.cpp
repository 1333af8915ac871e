// Linux-only parts of the platform layer: XDG folders and UTF-8 text.
#include <gtest/gtest.h>
#include <stdlib.h>

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
