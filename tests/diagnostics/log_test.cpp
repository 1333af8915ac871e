#include "diagnostics/log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <regex>
#include <thread>

#include "base/text.h"
#include "branding.h"
#include "platform/process.h"
#include "support/test_support.h"

using testing_support::DecodeLogLines;
using testing_support::ReadBytes;
using testing_support::ScopedCurrentDir;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {
constexpr std::uint8_t kKey = 0x5C;

// A log whose run writes to `path`.
std::unique_ptr<Log> LogAt(const std::filesystem::path& path) {
  auto log = std::make_unique<Log>(kKey);
  log->StartAt(path.wstring());
  return log;
}
}  // namespace

TEST(Log, LinesAreTimestampedTerminatedAndScrambled) {
  TempDir dir;
  auto log = LogAt(dir / "t.log");
  log->Write(L"curr version: %s", L"2.3.0.0");
  log->Write(nullptr);
  log->Write(L"FindClass zobj/Run failed\n");
  log->Write(L"http complete, len = %d", 0);

  std::string raw = ReadBytes(dir / "t.log");
  std::string plain = raw;
  for (char& c : plain) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ kKey);
  // Every byte, terminators included, is scrambled: no plain CR LF survives in the file.
  EXPECT_EQ(raw.find("\r\n"), std::string::npos);
  EXPECT_EQ(raw.find("curr"), std::string::npos);

  const std::regex stamp(R"(^\[\d{4,}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\])");
  auto lines = DecodeLogLines(dir / "t.log", kKey);
  ASSERT_EQ(lines.size(), 4u);
  for (const auto& line : lines) EXPECT_TRUE(std::regex_search(line, stamp)) << line;
  EXPECT_EQ(lines[0].substr(21), "curr version: 2.3.0.0");
  EXPECT_EQ(lines[1].substr(21), "NULL");
  // A message with its own line feed still gets CR LF: LF CR LF in the file.
  EXPECT_EQ(lines[2].substr(21), "FindClass zobj/Run failed\n");
  EXPECT_NE(plain.find("failed\n\r\n["), std::string::npos);
  EXPECT_EQ(lines[3].substr(21), "http complete, len = 0");
  EXPECT_EQ(plain.substr(plain.size() - 2), "\r\n");
}

TEST(Log, TimestampFieldsArePaddedAndYearIsNot) {
  std::tm when{};
  when.tm_year = 2026 - 1900;
  when.tm_mon = 8;
  when.tm_mday = 3;
  when.tm_hour = 4;
  when.tm_min = 5;
  when.tm_sec = 6;
  EXPECT_EQ(Log::ComposeLine(when, L"m"), L"[2026-09-03 04:05:06]m\r\n");
  when.tm_year = 999 - 1900;
  EXPECT_EQ(Log::ComposeLine(when, L""), L"[999-09-03 04:05:06]\r\n");
}

TEST(Log, OverlongLinesLoseTheirTerminator) {
  std::tm when{};
  when.tm_year = 2026 - 1900;
  const size_t stamp = 21;
  // Up to 102,396 characters in all the line is terminated; from 102,397 it is not.
  EXPECT_EQ(Log::ComposeLine(when, std::wstring(102396 - stamp, L'x')).size(), 102396u + 2);
  EXPECT_EQ(Log::ComposeLine(when, std::wstring(102397 - stamp, L'x')).size(), 102397u);
  // Whatever is longer is cut to the room of the line buffer.
  EXPECT_EQ(Log::ComposeLine(when, std::wstring(200000, L'x')).size(), 102399u);
}

TEST(Log, FirstWriteOfARunEmptiesTheFile) {
  TempDir dir;
  WriteBytes(dir / "t.log", std::string(5000, 'z'));
  {
    auto first = LogAt(dir / "t.log");
    first->Write(L"run one %d", 1);
    first->Write(L"run one %d", 2);
  }
  auto second = LogAt(dir / "t.log");
  second->Write(L"run two");
  auto lines = DecodeLogLines(dir / "t.log", kKey);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(21), "run two");

  // A new run in the same process (StartAt again) starts the file afresh too.
  second->StartAt((dir / "t.log").wstring());
  second->Write(L"run three");
  lines = DecodeLogLines(dir / "t.log", kKey);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(21), "run three");
}

TEST(Log, LinesBeforeTheRunHasAFileGoNowhere) {
  TempDir dir;
  ScopedCurrentDir cd(dir.Path());
  Log log(kKey);
  log.Write(L"too early");
  EXPECT_FALSE(std::filesystem::exists(dir / "t.log"));  // not in the current folder either
  log.StartAt((dir / "t.log").wstring());
  log.Write(L"in time");
  auto lines = DecodeLogLines(dir / "t.log", kKey);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(21), "in time");
}

TEST(Log, UnwritableFileIsSilentlyDropped) {
  TempDir dir;
  auto log = LogAt(dir / "missing-folder" / "t.log");
  log->Write(L"nowhere");  // must neither crash nor create anything
  log->Write(L"still nowhere");
  EXPECT_FALSE(std::filesystem::exists(dir / "missing-folder"));
}

TEST(Log, ConcurrentWritersNeverInterleaveALine) {
  TempDir dir;
  auto log = LogAt(dir / "t.log");
  const std::wstring a(300, L'a'), b(300, L'b');
  std::thread one([&] { for (int i = 0; i < 500; ++i) log->Write(L"%s", a); });
  std::thread two([&] { for (int i = 0; i < 500; ++i) log->Write(L"%s", b); });
  one.join();
  two.join();
  auto lines = DecodeLogLines(dir / "t.log", kKey);
  ASSERT_EQ(lines.size(), 1000u);
  for (const auto& line : lines) {
    std::string message = line.substr(21);
    EXPECT_TRUE(message == std::string(300, 'a') || message == std::string(300, 'b')) << message;
  }
}

TEST(Log, TheProcessLogUsesTheBrandedKey) {
  TempDir dir;
  theLog.StartAt((dir / "t.log").wstring());
  theLog.Write(L"check %s", L"key");
  auto lines = DecodeLogLines(dir / "t.log", branding::kLogKey);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(21), "check key");
  theLog.StartAt(L"");
}

TEST(Log, TextLeavesInTheAnsiCodePage) {
  TempDir dir;
  auto log = LogAt(dir / "t.log");
  // Chinese is representable in the Chinese code page (GBK) and in UTF-8; Thai is not in
  // GBK and becomes the default character there.
  log->Write(L"%s|%s", L"\x4E2D\x6587", L"\x0E01");
  auto lines = DecodeLogLines(dir / "t.log", kKey);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(21), platform::WideToAnsi(L"\x4E2D\x6587|\x0E01"));
}

// Something put in t.log's place to have the launcher empty another file: the file stays as
// it was, and the log goes to a t.log of its own that takes the place of the link. Symbolic
// links are tried where the system lets this user make them (Windows needs a privilege or
// developer mode for them; where they cannot be made, those rows say so and are skipped).
TEST(Log, NeverWritesThroughALink) {
  namespace fs = std::filesystem;
  const struct {
    const char* name;
    bool symbolic;
    bool targetExists;
  } cases[] = {
      {"symbolic link to a file", true, true},
      {"symbolic link to nothing yet", true, false},
      {"second name of a file", false, true},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const fs::path target = dir / "someone-elses.txt";
    if (c.targetExists) WriteBytes(target, "not the launcher's to empty");
    std::error_code made;
    if (c.symbolic) fs::create_symlink(target, dir / "t.log", made);
    else fs::create_hard_link(target, dir / "t.log", made);
    if (made) {
      std::cout << "[ SKIPPED  ] " << c.name << ": cannot be made here (" << made.message() << ")\n";
      continue;
    }
    {
      auto log = LogAt(dir / "t.log");
      log->Write(L"the run's own line");
    }
    if (c.targetExists) EXPECT_EQ(ReadBytes(target), "not the launcher's to empty") << c.name;
    else EXPECT_FALSE(fs::exists(fs::symlink_status(target))) << c.name << ": created through the link";
    EXPECT_FALSE(fs::is_symlink(dir / "t.log")) << c.name;
    auto lines = DecodeLogLines(dir / "t.log", kKey);
    ASSERT_EQ(lines.size(), 1u) << c.name;
    EXPECT_EQ(lines[0].substr(21), "the run's own line") << c.name;
  }
}

// Two launchers of one installation started one after the other write one t.log: the
// second finds the first still writing and adds its lines after the first's instead of
// emptying the file under it, every line of both stays whole and in its run's order, and a
// run that starts alone later starts the file afresh as ever. Real processes, as the
// launchers are; on both builds.
TEST(Log, TwoLaunchersAtOnceKeepEachOthersLinesWhole) {
  namespace fs = std::filesystem;
  const fs::path child = testing_support::ExecutableDir() /
                         ("log_child" + fs::path(platform::ExecutablePath()).extension().string());
  ASSERT_TRUE(fs::exists(child)) << child;
  TempDir dir;
  const fs::path log = dir / "t.log";
  const fs::path go = dir / "go";
  WriteBytes(log, "the lines of an earlier run");
  const int count = 3000;
  auto start = [&](const char* tag, int lines, const fs::path& goFile, int* exitCode) {
    platform::ProgramRun run;
    run.program = child.wstring();
    run.args = {log.wstring(), base::Utf8ToWide(tag), std::to_wstring(lines), goFile.wstring()};
    return std::thread([run, exitCode] { *exitCode = platform::RunProgram(run); });
  };
  auto hasLine = [&](const std::string& message) {
    for (const auto& line : DecodeLogLines(log, kKey))
      if (line.size() > 21 && line.substr(21) == message) return true;
    return false;
  };
  auto await = [&](const std::string& message) {
    for (int i = 0; i < 3000 && !hasLine(message); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return hasLine(message);
  };

  int first = -1, second = -1;
  std::thread a = start("a", count, go, &first);
  bool aStarted = await("a start");
  std::thread b = start("b", count, go, &second);
  bool bStarted = await("b start");
  WriteBytes(go, "");  // both write at once from here
  a.join();
  b.join();
  ASSERT_TRUE(aStarted);
  ASSERT_TRUE(bStarted);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 0);

  const std::regex stamp(R"(^\[\d{4,}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\])");
  const std::string padding(200, 'x');
  auto lines = DecodeLogLines(log, kKey);
  ASSERT_EQ(lines.size(), 2u + 2 * count);
  EXPECT_EQ(lines[0].substr(21), "a start") << "the first run's first line";
  int next[2] = {0, 0};
  bool started[2] = {false, false};
  int torn = 0;
  for (const auto& line : lines) {
    std::string message = line.size() > 21 ? line.substr(21) : std::string();
    int run = message.rfind("a ", 0) == 0 ? 0 : message.rfind("b ", 0) == 0 ? 1 : -1;
    if (!std::regex_search(line, stamp) || run < 0) {
      ++torn;
      continue;
    }
    if (message.substr(2) == "start") {
      started[run] = !started[run] && next[run] == 0;
      continue;
    }
    // Each run's lines come in its own order, each one whole.
    if (!started[run] || message != message.substr(0, 2) + std::to_string(next[run]) + " " + padding) {
      ++torn;
      continue;
    }
    ++next[run];
  }
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(next[0], count);
  EXPECT_EQ(next[1], count);

  // Alone again: the file starts afresh.
  int third = -1;
  start("c", 2, go, &third).join();
  EXPECT_EQ(third, 0);
  lines = DecodeLogLines(log, kKey);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].substr(21), "c start");
}
