// Windows-only parts of the platform layer, run under Wine with the Chinese code page.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testing_support::TempDir;
using testing_support::WriteBytes;

TEST(Win32Text, AnsiIsTheChineseCodePage) {
  // The tests run with the GBK code page (936), as the launcher's users do.
  EXPECT_EQ(platform::WideToAnsi(L"\x4E2D\x6587"), "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(platform::WideToAnsi(L"a\x0E01" L"b"), "a?b");  // Thai: not in GBK
  EXPECT_EQ(platform::ThreadAnsiToWide("\xD6\xD0 AB"), L"\x4E2D AB");
  EXPECT_EQ(platform::Utf8ToWide("\xE4\xB8\xAD"), L"\x4E2D");
}

TEST(Win32Files, ExclusiveOpensAdmitNoOtherOpener) {
  TempDir dir;
  std::wstring path = (dir / "held.jar").wstring();
  WriteBytes(path, "jar");
  platform::File holder;
  ASSERT_TRUE(holder.Open(path, platform::OpenMode::kReadExclusive));
  platform::File other;
  platform::Error err;
  EXPECT_FALSE(other.Open(path, platform::OpenMode::kReadExclusive, &err));
  EXPECT_EQ(err.code, 32u);  // ERROR_SHARING_VIOLATION
  EXPECT_FALSE(other.Open(path, platform::OpenMode::kReadShared));
  holder.Close();

  ASSERT_TRUE(holder.Open(path, platform::OpenMode::kReadShared));
  EXPECT_TRUE(other.Open(path, platform::OpenMode::kReadShared));
}

TEST(Win32Files, ReplacingAFileHeldOpenFailsAndKeepsIt) {
  TempDir dir;
  std::wstring path = (dir / "main.jar").wstring();
  WriteBytes(path, "old");
  platform::File holder;
  ASSERT_TRUE(holder.Open(path, platform::OpenMode::kReadExclusive));
  WriteBytes(dir / "new.part", "new");
  platform::Error err;
  EXPECT_FALSE(platform::RenameOver((dir / "new.part").wstring(), path, &err));
  EXPECT_FALSE(err.message.empty());
  holder.Close();
  EXPECT_EQ(testing_support::ReadBytes(path), "old");
}

TEST(Win32Folders, DocumentsIsTheShellFolder) {
  std::wstring docs = platform::DocumentsFolder();
  EXPECT_EQ(docs.find(L"\\\\"), std::wstring::npos);
  EXPECT_EQ(fs::path(docs).filename(), L"Documents");
  EXPECT_EQ(fs::path(platform::LocalAppDataFolder()).filename(), L"Local");
}
