// The whole update run against the suite's own server: an installation folder (launcher
// path, Config.ini, runtime) and a Documents folder of the case's own, and the run on a
// thread of its own as in the launcher.
//
// The Java runtime beside the program is a stand-in file: the update only checks that the
// runtime library is there; loading it is the Java host's business and tested there.
#include "update/update_worker.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <thread>

#include <gtest/gtest.h>

#include "base/text.h"
#include "branding.h"
#include "diagnostics/log.h"
#include "diagnostics/program_version.h"
#include "javahost/java_launch.h"
#include "platform/jvm_environment.h"
#include "publisher.h"
#include "launch/user_texts.h"
#include "platform/http.h"
#include "platform/jvm_environment.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "support/http_server.h"
#include "support/test_support.h"
#include "update/md5_checksum.h"
#include "update/package.h"
#include "update/working_folder.h"
#include "zip_bytes.h"

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::WriteBytes;
using Lines = std::vector<std::string>;
using Steps = std::vector<int>;

namespace {

const wchar_t kVersionError[] = L"下载版本控制文件出错！";
const wchar_t kPackageError[] = L"下载执行文件出错！";
const wchar_t kWriteError[] = L"写入执行文件出错！";


std::string Md5(const std::string& bytes) {
  return base::WideToUtf8(CMD5Checksum::GetMD5(bytes.data(), bytes.size()));
}

// A jar (a zip archive with a class file's worth of `size` bytes) scrambled with the jar
// key, as the publish tool makes a package of it.
std::string PackageOf(size_t size, unsigned seed, std::uint8_t key = branding::kJarKey) {
  std::string jar = zip_bytes::Zip({{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\n\r\n"},
                                    {"zobj/Run.class", testing_support::BinaryBody(size, seed)}});
  for (char& c : jar) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ key);
  return jar;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

class Worker : public ::testing::Test {
 public:  // the failure table's steps reach into the fixture
  Worker()
      : server(testing_support::TestHttpServer::Get()),
        folder(testing_support::UniqueServerFolder()),
        exeDir(install / "Tools"),
        workDir(documents / WorkingFolderName((exeDir / "Launcher.exe").wstring())) {
    platform::InitHttp();
    fs::create_directories(exeDir);
    settings.executablePath = (exeDir / "Launcher.exe").wstring();
    settings.documentsFolder = documents.WPath();
    settings.runtimeBaseUrl = server.Url(folder + "install/runtime/");
    WriteBytes(exeDir / "Config.ini", Narrow(server.Url(folder + "app/main.jar")) + "\r\nsecond line\r\n");
    jvm = exeDir / fs::path(platform::RuntimeLibraryCandidates().front());
    fs::create_directories(jvm.parent_path());
    WriteBytes(jvm, "stand-in runtime library");
    NewState();
  }

  // Windows cannot remove a folder that holds an open t.log.
  ~Worker() override { theLog.StartAt(L""); }

  static std::string Narrow(const std::wstring& text) { return base::WideToUtf8(text); }

  // A fresh record, as a new process has, whose progress values the case sees.
  void NewState() {
    progress.clear();
    state = std::make_unique<LaunchState>([this](int value) { progress.push_back(value); });
  }

  // The run's fixed steps, without the values in between that follow the package's bytes.
  Steps Milestones() const {
    Steps steps;
    for (int value : progress)
      if (value <= 70 || value >= 90) steps.push_back(value);
    return steps;
  }
  // Those values in between.
  Steps DownloadSteps() const {
    Steps steps;
    for (int value : progress)
      if (value > 70 && value < 90) steps.push_back(value);
    return steps;
  }

  // One run of the update, on its own thread as in the launcher.
  void Run() {
    NewState();
    std::thread worker([this] { RunUpdateAndPublish(settings, *state); });
    worker.join();
  }

  // The text the window would show for the run's failure; empty when there was none.
  std::wstring ErrorText() const {
    std::optional<UpdateFailure> failure = state->Failure();
    return failure ? user_texts::ForUpdateFailure(*failure) : L"";
  }

  // The server folder named by Config.ini, and the runtime-library base below the case.
  std::string App(const std::string& name) const { return folder + "app/" + name; }
  std::string Lib(const std::string& name) const { return folder + "install/runtime/" + name; }
  Lines Requests() const { return server.Requests(folder); }
  // The package's name on the server and its partial file's in the working folder.
  std::string Pak(const std::string& package) const { return App(Md5(package) + ".pak"); }
  static std::string Partial(const std::string& package) { return Md5(package) + ".pak.part"; }

  void Publish(const std::string& package, const std::string& versionText) {
    server.Put(App(Md5(package) + ".pak"), package);
    server.Put(App("update.txt"), versionText);
  }
  // The requests for the package itself (not for its block index, whose path it begins).
  size_t PackageRequests(const std::string& package) const {
    size_t n = 0;
    for (const std::string& path : server.Requests(Pak(package))) n += path == Pak(package) ? 1 : 0;
    return n;
  }
  void PutLocalJar(const std::string& bytes) {
    fs::create_directories(workDir);
    WriteBytes(workDir / "main.jar", bytes);
  }

  // The files of the working folder, but the records that remember what a file's bytes
  // hash to ("<file>.state"): a cache beside the jar, whatever the update did; nor the
  // empty file that every run locks ("update.lock").
  Lines WorkingFiles() const {
    Lines files;
    for (auto& e : fs::recursive_directory_iterator(workDir)) {
      if (!e.is_regular_file() || e.path().extension() == ".state" || e.path().filename() == "update.lock") continue;
      files.push_back(fs::relative(e.path(), workDir).generic_string());
    }
    std::sort(files.begin(), files.end());
    return files;
  }

  Lines LogLines() const {
    Lines lines;
    for (const std::string& line : testing_support::DecodeLogLines(workDir / "t.log", branding::kLogKey)) {
      size_t close = line.find(']');
      lines.push_back(close == std::string::npos ? line : line.substr(close + 1));
    }
    return lines;
  }

  // Waits until the server has seen the request.
  bool AwaitRequest(const std::string& path) const {
    for (int i = 0; i < 1000; ++i) {
      if (!server.Requests(path).empty()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  testing_support::TestHttpServer& server;
  std::string folder;
  testing_support::TempDir install;
  testing_support::TempDir documents;
  fs::path exeDir;
  fs::path workDir;
  fs::path jvm;
  UpdateSettings settings;
  std::unique_ptr<LaunchState> state;
  Steps progress;
};

TEST_F(Worker, CurrentJarCostsTheListAndTheVersionFileOnly) {
  const std::string jar = testing_support::BinaryBody(40000, 1);
  PutLocalJar(jar);
  fs::create_directories(workDir / "lib");
  WriteBytes(workDir / "lib" / "x.jar", "present");
  server.Put(App("libs.txt"), "lib/x.jar\n");
  // The local MD5 in capitals with a line end: the same version once trimmed and lowered.
  Publish(jar, Upper(Md5(jar)) + "\r\n");

  Run();

  EXPECT_EQ(progress, (Steps{10, 20, 50, 70, 100}));
  EXPECT_EQ(ErrorText(), L"");
  EXPECT_EQ(Requests(), (Lines{App("libs.txt"), App("update.txt")}));
  EXPECT_EQ(ReadBytes(workDir / "main.jar"), jar);

  // The plan names everything the Java host needs, as full paths.
  std::optional<LaunchPlan> plan = state->Plan();
  ASSERT_TRUE(plan.has_value());
  EXPECT_EQ(plan->executablePath, settings.executablePath);
  EXPECT_EQ(plan->workingFolder, workDir.wstring());
  EXPECT_EQ(plan->runtimeLibrary, jvm.wstring());
  EXPECT_EQ(plan->storedJar, (workDir / "main.jar").wstring());
  EXPECT_EQ(plan->libraries, (std::vector<std::wstring>{(workDir / "lib" / "x.jar").wstring()}));

  EXPECT_EQ(LogLines(), (Lines{
                            "curr version: " + Narrow(ProgramVersionText()),
                            "updates are not signed",  // a launcher built without an update key
                            "start get url: " + Narrow(server.Url(App("libs.txt"))),
                            "http complete, len = 10",
                            "set lib text:lib/x.jar",
                            "start get url: " + Narrow(server.Url(App("update.txt"))),
                            "http complete, len = 34",
                        }));
}

// update.txt saved by Notepad as UTF-8 starts with a byte order mark: read as the same MD5
// (or, with nothing after it, as an empty file that publishes nothing).
TEST_F(Worker, VersionFileWithAByteOrderMarkIsRead) {
  const std::string bom = "\xEF\xBB\xBF";
  const std::string jar = PackageOf(4000, 30), next = PackageOf(5000, 31);
  server.Put(App("libs.txt"), "");
  server.Put(Pak(next), next);
  const struct {
    const char* name;
    std::string text;
    const std::string& installed;
    bool downloads;
  } cases[] = {
      {"current release", bom + Md5(jar) + "\r\n", jar, false},
      {"new release", bom + Upper(Md5(next)), next, true},
      {"the mark alone", bom + "\r\n", jar, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PutLocalJar(jar);
    server.Put(App("update.txt"), c.text);
    size_t before = PackageRequests(next);
    Run();
    EXPECT_EQ(ErrorText(), L"");
    EXPECT_EQ(ReadBytes(workDir / "main.jar"), c.installed);
    EXPECT_EQ(PackageRequests(next), before + (c.downloads ? 1 : 0));
  }
}

TEST_F(Worker, NewVersionReplacesTheJarAndTheNextRunFindsItCurrent) {
  const std::string next = PackageOf(300000, 2);
  server.Put(App("libs.txt"), "lib/x.jar");
  server.Put(Lib("lib/x.jar"), zip_bytes::Jar("library"));
  Publish(next, Md5(next) + "\n");

  for (bool hasOldJar : {false, true}) {
    SCOPED_TRACE(hasOldJar ? "outdated jar" : "no jar yet");
    std::error_code ignored;
    fs::remove_all(workDir, ignored);
    if (hasOldJar) PutLocalJar(testing_support::BinaryBody(1000, 3));
    size_t before = Requests().size();

    Run();

    EXPECT_EQ(Milestones(), (Steps{10, 20, 50, 70, 90, 100}));
    EXPECT_EQ(ErrorText(), L"");
    Lines requests = Requests();
    EXPECT_EQ(Lines(requests.begin() + before, requests.end()),
              (Lines{App("libs.txt"), Lib("lib/x.jar"), App("update.txt"), App(Md5(next) + ".pak")}));
    EXPECT_EQ(ReadBytes(workDir / "main.jar"), next);
    // Nothing beside the jar, the library and the log: no temporary file stays behind.
    EXPECT_EQ(WorkingFiles(), (Lines{"lib/x.jar", "main.jar", "t.log"}));

    Run();
    EXPECT_EQ(progress, (Steps{10, 20, 50, 70, 100}));
    EXPECT_EQ(Requests().size(), before + 6);
  }
}

TEST_F(Worker, EachFailureStopsAtItsStepWithItsText) {
  const std::string old = testing_support::BinaryBody(5000, 4);
  const std::string next = PackageOf(7000, 5);
  struct Case {
    const char* name;
    std::function<void(Worker&)> arrange;
    std::wstring error;
    Steps steps;
    std::function<Lines(Worker&)> requests;
    bool keepsPartial = false;    // the package's bytes so far stay for the next run
    std::string lastLine = "";    // the start of t.log's last line, when it matters
  };
  const Case cases[] = {
      {"no Java runtime", [](Worker& w) { fs::remove(w.jvm); }, L"本地JAVA环境出错，请重新重新安装软件！", {100},
       [](Worker&) { return Lines{}; }},
      {"no Config.ini", [](Worker& w) { fs::remove(w.exeDir / "Config.ini"); }, L"找不到本地配置文件！", {10, 100},
       [](Worker&) { return Lines{}; }},
      {"URL without a slash",
       [](Worker& w) { WriteBytes(w.exeDir / "Config.ini", "main.jar"); },
       user_texts::ForUpdateFailure(UpdateFailure::kConfigContent), {10, 100}, [](Worker&) { return Lines{}; }},
      {"version file missing", [](Worker& w) { w.server.Behave(w.App("update.txt"), "status 404"); },
       kVersionError, {10, 20, 50, 100},
       [](Worker& w) { return Lines{w.App("libs.txt"), w.App("update.txt"), w.App("update.txt"), w.App("update.txt")}; }},
      {"a page in place of the version file",
       [](Worker& w) { w.server.Put(w.App("update.txt"), "<html><body>Please log in</body></html>\r\n"); },
       kVersionError, {10, 20, 50, 100},
       [](Worker& w) { return Lines{w.App("libs.txt"), w.App("update.txt")}; }},
      {"two lines in the version file",
       [next](Worker& w) { w.server.Put(w.App("update.txt"), Md5(next) + "\r\n" + Md5(next)); },
       kVersionError, {10, 20, 50, 100},
       [](Worker& w) { return Lines{w.App("libs.txt"), w.App("update.txt")}; }},
      {"package missing", [next](Worker& w) { w.server.Remove(w.App(Md5(next) + ".pak")); }, kPackageError,
       {10, 20, 50, 70, 100},
       [next](Worker& w) {
         std::string pak = w.App(Md5(next) + ".pak");
         return Lines{w.App("libs.txt"), w.App("update.txt"), pak, pak, pak};
       }},
      {"package bytes differ from the published MD5",
       [next](Worker& w) { w.server.Put(w.App(Md5(next) + ".pak"), testing_support::BinaryBody(7000, 6)); }, kPackageError,
       {10, 20, 50, 70, 100},
       [next](Worker& w) {
         std::string pak = w.App(Md5(next) + ".pak");
         return Lines{w.App("libs.txt"), w.App("update.txt"), pak, pak, pak};
       }},
      {"package cut short on every attempt",
       // Each attempt goes on from the bytes the last one left, and still does not finish.
       [next](Worker& w) { w.server.Behave(w.App(Md5(next) + ".pak"), "truncate 1000"); }, kPackageError,
       {10, 20, 50, 70, 100},
       [next](Worker& w) {
         std::string pak = w.App(Md5(next) + ".pak");
         return Lines{w.App("libs.txt"), w.App("update.txt"), pak, pak, pak};
       },
       true},
      {"package answered with another status than 200",
       [next](Worker& w) { w.server.Behave(w.App(Md5(next) + ".pak"), "status 204"); }, kPackageError,
       {10, 20, 50, 70, 100},
       [next](Worker& w) {
         std::string pak = w.App(Md5(next) + ".pak");
         return Lines{w.App("libs.txt"), w.App("update.txt"), pak, pak, pak};
       },
       false, "invalid http statue: 204 from:"},
      // More than a package may be (LAUNCHER_MAX_PACKAGE_BYTES, 2 GiB by default): refused
      // before a byte is written, without another attempt, and nothing kept.
      {"package announced larger than a package may be",
       [next](Worker& w) { w.server.Behave(w.App(Md5(next) + ".pak"), "length 3221225472"); }, kPackageError,
       {10, 20, 50, 70, 100},
       [next](Worker& w) { return Lines{w.App("libs.txt"), w.App("update.txt"), w.App(Md5(next) + ".pak")}; },
       false, "exception:the file is larger than "},
      // Bytes that hash to the published MD5 but are no jar: refused at once, no retry.
      {"empty package",
       [](Worker& w) { w.Publish("", Md5("")); }, kPackageError, {10, 20, 50, 70, 100},
       [](Worker& w) { return Lines{w.App("libs.txt"), w.App("update.txt"), w.Pak("")}; }, false,
       "invalid package: "},
      {"package that is no zip archive",
       [](Worker& w) { w.Publish(testing_support::BinaryBody(6000, 11), Md5(testing_support::BinaryBody(6000, 11))); },
       kPackageError, {10, 20, 50, 70, 100},
       [](Worker& w) { return Lines{w.App("libs.txt"), w.App("update.txt"), w.Pak(testing_support::BinaryBody(6000, 11))}; },
       false, "invalid package: "},
      {"package scrambled with another key",
       [](Worker& w) {
         std::string other = PackageOf(6000, 12, static_cast<std::uint8_t>(branding::kJarKey ^ 0x21));
         w.Publish(other, Md5(other));
       },
       kPackageError, {10, 20, 50, 70, 100},
       [](Worker& w) {
         return Lines{w.App("libs.txt"), w.App("update.txt"),
                      w.Pak(PackageOf(6000, 12, static_cast<std::uint8_t>(branding::kJarKey ^ 0x21)))};
       },
       false, "invalid package: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::error_code ignored;
    fs::remove_all(workDir, ignored);
    PutLocalJar(old);
    WriteBytes(exeDir / "Config.ini", Narrow(server.Url(App("main.jar"))));
    WriteBytes(jvm, "stand-in runtime library");
    server.Put(App("libs.txt"), "");
    server.Behave(App("update.txt"), "");
    server.Behave(App(Md5(next) + ".pak"), "");
    Publish(next, Md5(next));
    c.arrange(*this);
    size_t before = Requests().size();

    Run();

    EXPECT_EQ(ErrorText(), c.error);
    EXPECT_FALSE(state->Plan().has_value());
    EXPECT_EQ(Milestones(), c.steps);
    Lines requests = Requests();
    EXPECT_EQ(Lines(requests.begin() + before, requests.end()), c.requests(*this));
    // A failed run leaves the old jar as it was, and a refused package is gone.
    EXPECT_EQ(ReadBytes(workDir / "main.jar"), old);
    Lines files = WorkingFiles();
    Lines partials;
    std::copy_if(files.begin(), files.end(), std::back_inserter(partials),
                 [](const std::string& name) { return name.find(".pak.part") != std::string::npos; });
    EXPECT_EQ(partials, c.keepsPartial ? Lines{Partial(next)} : Lines{});
    if (!c.lastLine.empty()) {
      EXPECT_EQ(LogLines().back().rfind(c.lastLine, 0), 0u) << LogLines().back();
    }
  }
}

TEST_F(Worker, JarThatCannotBeReplacedStaysAndIsReported) {
  // A folder in the jar's place with a file in it: no rename can put a file over it, on
  // either system, just as when another program holds the jar or the disk is full.
  fs::create_directories(workDir / "main.jar");
  WriteBytes(workDir / "main.jar" / "inside", "kept");
  const std::string next = PackageOf(9000, 7);
  server.Put(App("libs.txt"), "");
  Publish(next, Md5(next));

  Run();

  EXPECT_EQ(ErrorText(), kWriteError);
  EXPECT_EQ(Milestones(), (Steps{10, 20, 50, 70, 90, 100}));
  // The verified package waits beside it.
  EXPECT_EQ(WorkingFiles(), (Lines{Partial(next), "main.jar/inside", "t.log"}));
  EXPECT_EQ(ReadBytes(workDir / "main.jar" / "inside"), "kept");
  EXPECT_EQ(LogLines().back().rfind("exception:", 0), 0u) << LogLines().back();

  // Once the jar can be replaced, the next run installs it without fetching it again: it
  // asks only for what comes after the bytes it has, and there is nothing.
  fs::remove_all(workDir / "main.jar");
  Run();
  EXPECT_EQ(ErrorText(), L"");
  EXPECT_EQ(ReadBytes(workDir / "main.jar"), next);
  EXPECT_EQ(server.RangeStarts(Pak(next)), (std::vector<std::int64_t>{-1, static_cast<std::int64_t>(next.size())}));
  EXPECT_EQ(WorkingFiles(), (Lines{"main.jar", "t.log"}));
}

TEST_F(Worker, DownloadStoppedHalfwayLeavesTheOldJarAndTheNextRunGoesOn) {
  const std::string old = testing_support::BinaryBody(2000, 8);
  const std::string next = PackageOf(2 * 1024 * 1024, 9);
  PutLocalJar(old);
  server.Put(App("libs.txt"), "");
  Publish(next, Md5(next));
  const std::string pak = Pak(next);
  // Every attempt of this run gets half of what it asks for; the first is held open meanwhile.
  server.Behave(pak, "hold\ntimes 3");

  NewState();
  std::thread worker([this] { RunUpdateAndPublish(settings, *state); });
  ASSERT_TRUE(AwaitRequest(pak));
  // Halfway through the download: whatever ends the process now (a kill, a power cut)
  // finds the old jar whole and nothing else under its name.
  EXPECT_EQ(ReadBytes(workDir / "main.jar"), old);
  EXPECT_EQ(WorkingFiles(), (Lines{Partial(next), "main.jar", "t.log"}));
  server.Release(pak);
  worker.join();
  EXPECT_EQ(ErrorText(), kPackageError);
  EXPECT_EQ(ReadBytes(workDir / "main.jar"), old);
  // Each attempt went on from the bytes the one before left.
  std::vector<std::int64_t> starts = server.RangeStarts(pak);
  ASSERT_EQ(starts.size(), 3u);
  EXPECT_EQ(starts[0], -1);
  EXPECT_GT(starts[1], 0);
  EXPECT_GT(starts[2], starts[1]);
  const std::int64_t held = static_cast<std::int64_t>(fs::file_size(workDir / Partial(next)));
  EXPECT_GT(held, starts[2]);
  EXPECT_LT(held, static_cast<std::int64_t>(next.size()));
  EXPECT_EQ(ReadBytes(workDir / Partial(next)), next.substr(0, static_cast<size_t>(held)));

  // The next start asks only for the rest.
  Run();
  EXPECT_EQ(ErrorText(), L"");
  EXPECT_EQ(Milestones(), (Steps{10, 20, 50, 70, 90, 100}));
  EXPECT_EQ(server.RangeStarts(pak).back(), held);
  EXPECT_EQ(ReadBytes(workDir / "main.jar"), next);
  EXPECT_EQ(WorkingFiles(), (Lines{"main.jar", "t.log"}));
  const std::string url = Narrow(server.Url(pak));
  Lines lines = LogLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3], "start get url: " + url);
  EXPECT_EQ(lines[lines.size() - 2], "resume download from " + std::to_string(held) + ": " + url);
  EXPECT_EQ(lines.back(), "http complete, len = " + std::to_string(next.size()));
}

TEST_F(Worker, ConnectionDroppedAtFortyPercentGoesOnFromTheBytesOnDisk) {
  const std::string next = PackageOf(1024 * 1024, 13);
  PutLocalJar(testing_support::BinaryBody(3000, 14));
  server.Put(App("libs.txt"), "");
  Publish(next, Md5(next));
  const std::int64_t cut = static_cast<std::int64_t>(next.size() * 2 / 5);
  server.Behave(Pak(next), "drop_after " + std::to_string(cut) + "\ntimes 1");

  Run();

  EXPECT_EQ(ErrorText(), L"");
  EXPECT_EQ(ReadBytes(workDir / "main.jar"), next);
  // The second attempt of the same run asked for the bytes after those on disk.
  EXPECT_EQ(server.RangeStarts(Pak(next)), (std::vector<std::int64_t>{-1, cut}));
  EXPECT_EQ(WorkingFiles(), (Lines{"main.jar", "t.log"}));
}

TEST_F(Worker, LauncherKilledMidDownloadGoesOnAtItsNextStart) {
  // A real process, ended from outside as the task manager or `kill -9` ends it.
  const fs::path child = testing_support::ExecutableDir() /
                         ("update_child" + fs::path(platform::ExecutablePath()).extension().string());
  ASSERT_TRUE(fs::exists(child)) << child;
  const std::string old = testing_support::BinaryBody(2000, 15);
  const std::string next = PackageOf(3 * 1024 * 1024, 16);
  PutLocalJar(old);
  server.Put(App("libs.txt"), "");
  Publish(next, Md5(next));
  // The server sends half of the package and then waits.
  server.Behave(Pak(next), "hold\ntimes 1");

  const fs::path pidFile = install / "child.pid";
  platform::ProgramRun run;
  run.program = child.wstring();
  run.args = {settings.executablePath, settings.documentsFolder, settings.runtimeBaseUrl, pidFile.wstring()};
  int exitCode = 0;
  std::thread parent([&] { exitCode = platform::RunProgram(run); });
  const fs::path partial = workDir / Partial(next);
  auto received = [&] {
    std::error_code ec;
    std::uintmax_t size = fs::file_size(partial, ec);
    return ec ? 0 : size;
  };
  // Killed once its first bytes are on the disk.
  for (int i = 0; i < 1500 && !(fs::exists(pidFile) && received() >= 1024 * 1024); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const bool started = fs::exists(pidFile);
  bool killed = false;
  if (started) {
    EXPECT_GE(received(), 1024u * 1024u);
    killed = platform::EndProcess(std::stoul(ReadBytes(pidFile)));
  }
  // The held answer ends either way, so that no child outlives the test.
  server.Release(Pak(next));
  parent.join();
  ASSERT_TRUE(started);
  ASSERT_TRUE(killed);
  EXPECT_NE(exitCode, 0);

  // What the killed run left: the old jar, and the bytes it had received.
  EXPECT_EQ(ReadBytes(workDir / "main.jar"), old);
  const std::string held = ReadBytes(partial);
  ASSERT_FALSE(held.empty());
  EXPECT_EQ(held, next.substr(0, held.size()));

  Run();
  EXPECT_EQ(ErrorText(), L"");
  EXPECT_EQ(ReadBytes(workDir / "main.jar"), next);
  EXPECT_EQ(server.RangeStarts(Pak(next)), (std::vector<std::int64_t>{-1, static_cast<std::int64_t>(held.size())}));
  EXPECT_EQ(WorkingFiles(), (Lines{"main.jar", "t.log"}));
}

// The update run of a launcher in a process of its own (update_child), started on a
// thread of the test that waits for it; `wrapper` (a program and its first arguments) runs
// it, as strace does.
struct ChildRun {
  std::thread thread;
  int exitCode = -1;
  fs::path output;  // the text its box would show, if any
};

std::unique_ptr<ChildRun> StartChild(Worker& w, const std::string& name, std::vector<std::wstring> wrapper = {},
                                     std::vector<std::wstring> environment = {}) {
  const fs::path child = testing_support::ExecutableDir() /
                         ("update_child" + fs::path(platform::ExecutablePath()).extension().string());
  auto launch = std::make_unique<ChildRun>();
  launch->output = w.install / (name + ".out");
  platform::ProgramRun run;
  run.args = {w.settings.executablePath, w.settings.documentsFolder, w.settings.runtimeBaseUrl,
              (w.install / (name + ".pid")).wstring()};
  if (wrapper.empty()) {
    run.program = child.wstring();
  } else {
    run.program = wrapper.front();
    wrapper.push_back(child.wstring());
    run.args.insert(run.args.begin(), wrapper.begin() + 1, wrapper.end());
  }
  run.stdoutPath = launch->output.wstring();
  run.environment = std::move(environment);
  ChildRun* raw = launch.get();
  raw->thread = std::thread([run, raw] { raw->exitCode = platform::RunProgram(run); });
  return launch;
}

// Two starts at once, the second while the first holds its rename of the verified package
// into place (strace holds every rename of the first launcher for 3 s): the second waits
// for the first one's run and finds the jar current; neither shows an error, and the jar
// is the new one whole. Against a server that ignores Range (the second would otherwise
// download the package afresh into the file that is being renamed) and one that honours
// it (the second would rename that file itself). Linux only: strace cannot hold a Windows
// program's renames under Wine, where the next test starts two launchers at once instead.
TEST_F(Worker, SecondStartWaitsWhileTheFirstRenamesItsUpdateIntoPlace) {
  if (platform::kPathSeparator == L'\\')
    GTEST_SKIP() << "strace cannot hold the renames of a Windows program under Wine";
  const std::wstring strace = base::Utf8ToWide(LAUNCHER_TEST_STRACE);
  ASSERT_TRUE(fs::exists(strace)) << "strace is missing: scripts/install-deps installs it";
  server.Put(App("libs.txt"), "");
  for (const char* range : {"ignore_range", ""}) {
    SCOPED_TRACE(*range ? "server ignores Range" : "server honours Range");
    std::error_code ignored;
    fs::remove_all(workDir, ignored);
    const std::string old = testing_support::BinaryBody(3000, 40);
    const std::string next = PackageOf(2 * 1024 * 1024, *range ? 41 : 42);
    PutLocalJar(old);
    Publish(next, Md5(next));
    server.Behave(Pak(next), range);

    // LeakSanitizer (in the sanitizer build) stops a process's threads with ptrace at its
    // exit, which it cannot do under a tracer.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::wstring leaks = L"ASAN_OPTIONS=" + base::Utf8ToWide(asan ? std::string(asan) + ":" : "") +
                               L"detect_leaks=0";
    auto first = StartChild(*this, "first",
                            {strace, L"-f", L"-qq", L"-o", L"/dev/null", L"-e", L"trace=rename,renameat,renameat2",
                             L"-e", L"inject=rename,renameat,renameat2:delay_enter=3000000"},
                            {leaks});
    // The package is whole on the disk: from here the first launcher checks it and renames
    // it into place, and that rename is held.
    const std::string downloaded = "http complete, len = " + std::to_string(next.size());
    bool inRename = false;
    for (int i = 0; i < 3000 && !inRename; ++i) {
      Lines lines = fs::exists(workDir / "t.log") ? LogLines() : Lines{};
      inRename = std::find(lines.begin(), lines.end(), downloaded) != lines.end();
      if (!inRename) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    auto second = StartChild(*this, "second");
    second->thread.join();
    first->thread.join();
    ASSERT_TRUE(inRename);

    EXPECT_EQ(first->exitCode, 0) << ReadBytes(first->output);
    EXPECT_EQ(second->exitCode, 0) << ReadBytes(second->output);
    EXPECT_EQ(ReadBytes(workDir / "main.jar"), next);
    EXPECT_EQ(server.Requests(Pak(next)).size(), 1u) << "the second launcher found the jar current";
    EXPECT_EQ(WorkingFiles(), (Lines{"main.jar", "t.log"}));
    Lines lines = LogLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "wait for another launcher to finish its update"), lines.end());
  }
}

// Two launchers started together, as a double click does, a few times over with a new
// release each time: one downloads and installs it, the other waits and finds it current.
// Neither shows an error, and the jar is always the new release whole. Both builds.
TEST_F(Worker, TwoStartsAtOnceInstallTheReleaseOnce) {
  server.Put(App("libs.txt"), "");
  PutLocalJar(testing_support::BinaryBody(3000, 43));
  for (unsigned trial = 0; trial < 5; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    const std::string next = PackageOf(1024 * 1024, 44 + trial);
    Publish(next, Md5(next));
    auto a = StartChild(*this, "a" + std::to_string(trial));
    auto b = StartChild(*this, "b" + std::to_string(trial));
    a->thread.join();
    b->thread.join();
    EXPECT_EQ(a->exitCode, 0) << ReadBytes(a->output);
    EXPECT_EQ(b->exitCode, 0) << ReadBytes(b->output);
    EXPECT_EQ(ReadBytes(workDir / "main.jar"), next);
    EXPECT_EQ(PackageRequests(next), 1u);
    EXPECT_EQ(WorkingFiles(), (Lines{"main.jar", "t.log"}));
    EXPECT_EQ(ReadBytes(workDir / "update.lock"), "");
  }
}

// Links put where the run writes (the partial package, the temporary names of the jar's
// record and of a library, as earlier versions named them: "<file>.part-<pid>-<n>") by
// someone who wants the launcher to write into another file: that file keeps its bytes,
// and the jar and the library are files of their own with the published bytes. Symbolic
// links only where this system lets the test make them (not under Wine: those rows say so
// and are skipped); hard links on both builds.
TEST_F(Worker, LinksInTheRunsWayAreNeverWrittenThrough) {
  const std::string library = zip_bytes::Jar("library");
  server.Put(Lib("lib/x.jar"), library);
  const std::string pid = std::to_string(platform::ProcessId());
  struct Place {
    const char* name;
    std::function<std::vector<std::string>(const std::string& package)> names;
  };
  const Place places[] = {
      {"partial package", [](const std::string& package) { return std::vector<std::string>{Partial(package)}; }},
      {"temporary names of the jar's record and of a library",
       [&](const std::string&) {
         std::vector<std::string> names;
         for (int n = 0; n < 100; ++n) {
           names.push_back("main.jar.state.part-" + pid + "-" + std::to_string(n));
           names.push_back("lib/x.jar.part-" + pid + "-" + std::to_string(n));
         }
         return names;
       }},
  };
  for (bool symbolic : {true, false}) {
    for (const Place& place : places) {
      SCOPED_TRACE(std::string(symbolic ? "symbolic links: " : "hard links: ") + place.name);
      std::error_code ignored;
      fs::remove_all(workDir, ignored);
      fs::create_directories(workDir / "lib");
      PutLocalJar(testing_support::BinaryBody(2000, 50));
      const std::string next = PackageOf(200000, symbolic ? 51 : 52);
      server.Put(App("libs.txt"), "lib/x.jar");
      Publish(next, Md5(next));
      const fs::path victim = install / "someone-elses.txt";
      WriteBytes(victim, "not the launcher's to write");
      bool made = true;
      for (const std::string& name : place.names(next)) {
        std::error_code ec;
        if (symbolic) fs::create_symlink(victim, workDir / name, ec);
        else fs::create_hard_link(victim, workDir / name, ec);
        made = made && !ec && (!symbolic || fs::is_symlink(workDir / name));
      }
      if (!made) {
        std::cout << "[ SKIPPED  ] " << place.name << ": no such link can be made here\n";
        continue;
      }

      Run();

      EXPECT_EQ(ErrorText(), L"");
      EXPECT_EQ(ReadBytes(victim), "not the launcher's to write");
      for (const char* file : {"main.jar", "lib/x.jar"}) {
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(workDir / file))) << file;
        EXPECT_EQ(fs::hard_link_count(workDir / file), 1u) << file;
      }
      EXPECT_EQ(ReadBytes(workDir / "main.jar"), next);
      EXPECT_EQ(ReadBytes(workDir / "lib" / "x.jar"), library);
    }
  }
}

TEST_F(Worker, PartialFilesOfOtherVersionsAreRemoved) {
  const std::string current = PackageOf(5000, 17);
  const std::string next = PackageOf(400000, 18);
  const std::string stale = PackageOf(6000, 19);
  PutLocalJar(current);
  server.Put(App("libs.txt"), "");
  // Left by earlier runs: one of a version no longer published, and the first bytes of the
  // one published now.
  WriteBytes(workDir / Partial(stale), stale.substr(0, 3000));
  WriteBytes(workDir / Partial(next), next.substr(0, 100000));
  // The copy of its own that a killed launcher was fetching while another held the file.
  WriteBytes(workDir / (Partial(stale) + ".part-4000000000-0"), stale.substr(0, 2000));
  WriteBytes(workDir / "notes.pak.txt", "not a partial package");
  Publish(next, Md5(next));

  Run();
  EXPECT_EQ(ErrorText(), L"");
  EXPECT_EQ(ReadBytes(workDir / "main.jar"), next);
  // The jar is an older package: first its block index (none is served), then the package
  // from the bytes on disk on.
  EXPECT_EQ(server.Requests(Pak(next)), (Lines{Pak(next) + ".idx", Pak(next)}));
  EXPECT_EQ(server.RangeStarts(Pak(next)), (std::vector<std::int64_t>{-1, 100000}));
  EXPECT_EQ(WorkingFiles(), (Lines{"main.jar", "notes.pak.txt", "t.log"}));
  Lines lines = LogLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "remove partial package: " + Partial(stale)), lines.end());

  // A current jar needs none of them.
  WriteBytes(workDir / Partial(stale), stale.substr(0, 3000));
  WriteBytes(workDir / Partial(next), next);
  Run();
  EXPECT_EQ(ErrorText(), L"");
  EXPECT_EQ(WorkingFiles(), (Lines{"main.jar", "notes.pak.txt", "t.log"}));
}

TEST_F(Worker, ProgressFollowsThePackagesBytesFromSeventyTowardNinety) {
  // About three seconds for the package: the bar must move meanwhile.
  const std::string next = PackageOf(300000, 20);
  PutLocalJar(testing_support::BinaryBody(1000, 21));
  server.Put(App("libs.txt"), "");
  Publish(next, Md5(next));
  server.Behave(Pak(next), "drip 100000");

  Run();

  EXPECT_EQ(ErrorText(), L"");
  EXPECT_EQ(Milestones(), (Steps{10, 20, 50, 70, 90, 100}));
  Steps between = DownloadSteps();
  EXPECT_GE(between.size(), 5u);
  EXPECT_TRUE(std::is_sorted(between.begin(), between.end()));
  EXPECT_EQ(std::adjacent_find(between.begin(), between.end()), between.end()) << "each value once";
}

TEST_F(Worker, EmptyVersionFilePublishesNothingAndTheJarThereIsLaunched) {
  const std::string jar = testing_support::BinaryBody(4000, 22);
  server.Put(App("libs.txt"), "");
  server.Put(App("update.txt"), " \r\n");
  // Whatever an earlier run had begun to download is of no use now.
  fs::create_directories(workDir);
  WriteBytes(workDir / Partial(jar), jar.substr(0, 10));

  for (bool hasJar : {true, false}) {
    SCOPED_TRACE(hasJar ? "beside a jar" : "without a jar");
    if (hasJar) PutLocalJar(jar);
    else fs::remove(workDir / "main.jar");
    size_t before = Requests().size();

    Run();

    EXPECT_EQ(ErrorText(), L"");
    EXPECT_EQ(progress, (Steps{10, 20, 50, 70, 100}));
    Lines requests = Requests();
    EXPECT_EQ(Lines(requests.begin() + before, requests.end()), (Lines{App("libs.txt"), App("update.txt")}));
    std::optional<LaunchPlan> plan = state->Plan();
    ASSERT_TRUE(plan.has_value());
    if (hasJar) {
      EXPECT_EQ(ReadBytes(workDir / "main.jar"), jar);
      EXPECT_EQ(WorkingFiles(), (Lines{"main.jar", "t.log"}));
    } else {
      // As ever without a jar: the launch ends with "cod=1".
      EXPECT_EQ(RunJavaApplication(*plan), LaunchResult::kNoJar);
    }
  }
}

// The run hands everything on as values: the process's current directory is not its channel.
TEST_F(Worker, TheRunLeavesTheCurrentDirectoryAlone) {
  server.Put(App("libs.txt"), "");
  server.Put(App("update.txt"), "\r\n");
  std::wstring before = platform::CurrentDirectory();
  Run();
  EXPECT_EQ(platform::CurrentDirectory(), before);
  EXPECT_TRUE(fs::exists(workDir / "t.log"));
}

TEST(Package, LocalJarMd5) {
  testing_support::TempDir dir;
  EXPECT_EQ(LocalJarMd5((dir / "main.jar").wstring()), L"");
  WriteBytes(dir / "main.jar", "abc");
  EXPECT_EQ(LocalJarMd5((dir / "main.jar").wstring()), L"900150983cd24fb0d6963f7d28e17f72");
}

// Differential updates: releases of a jar as a build makes them (every entry re-timed, a
// few changed, added or removed), published by the publish tool with their block index.
class DifferentialWorker : public Worker {
 public:
  // Release `version` of a jar of 60 classes: release 2 changes three classes of release 1
  // (one of them large, early in the jar), adds one and drops one; release 0 differs from
  // release 1 in ten more. Each release is built at another time.
  static std::string Release(int version) {
    zip_bytes::Entries entries = {{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\n\r\n"}};
    for (int i = 0; i < 60; ++i) {
      unsigned seed = 100 + i;
      if (version == 0 && i % 6 == 1) seed += 1000;
      if (version == 2 && (i == 3 || i == 30 || i == 50)) seed += 2000;
      if (version == 2 && i == 40) continue;
      std::size_t size = i == 3 ? 200000 : 3000 + 97 * i;
      entries.push_back({"zobj/C" + std::to_string(i) + ".class", testing_support::BinaryBody(size, seed)});
    }
    if (version == 2) entries.push_back({"zobj/Run.class", testing_support::BinaryBody(5000, 7)});
    zip_bytes::Options options;
    options.dosTime = 0x5A210000u + static_cast<std::uint32_t>(version) * 0x0821u;
    return zip_bytes::Zip(entries, options);
  }
  static std::string Scramble(std::string jar) {
    for (char& c : jar) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ branding::kJarKey);
    return jar;
  }

  // Publishes the plain jar into the case's server folder with the publish tool; returns
  // the package as served.
  std::string PublishJar(const std::string& jar) {
    testing_support::TempDir dir;
    WriteBytes(dir / "main.jar", jar);
    publish::PublishRequest request;
    request.jarPath = (dir / "main.jar").wstring();
    request.serverRoot = server.LocalPath("/").wstring();
    request.folder = base::Utf8ToWide(folder.substr(1) + "app");
    request.serverUrl = server.Url("/");
    publish::PublishReport report;
    base::Status status = publish::Publish(request, &report);
    EXPECT_TRUE(status.ok()) << (status.ok() ? std::string() : Narrow(status.failure().reason));
    EXPECT_TRUE(fs::exists(server.LocalPath(App(Narrow(report.md5) + ".pak.idx"))));
    return Scramble(jar);
  }

  // The numbers of "differential update: <n> bytes reused, <m> bytes fetched"; -1, -1 when
  // t.log has no such line.
  std::pair<std::int64_t, std::int64_t> ReusedAndFetched() const {
    for (const std::string& line : LogLines()) {
      long long reused = -1, fetched = -1;
      if (std::sscanf(line.c_str(), "differential update: %lld bytes reused, %lld bytes fetched", &reused, &fetched) == 2)
        return {reused, fetched};
    }
    return {-1, -1};
  }
  Lines LinesStartingWith(const std::string& prefix) const {
    Lines found;
    for (const std::string& line : LogLines())
      if (line.rfind(prefix, 0) == 0) found.push_back(line);
    return found;
  }
};

TEST_F(DifferentialWorker, OlderJarFetchesOnlyWhatChanged) {
  const std::string next = Scramble(Release(2));
  for (int from : {1, 0}) {
    SCOPED_TRACE(from == 1 ? "from the release before" : "from an older release");
    std::error_code ignored;
    fs::remove_all(workDir, ignored);
    PutLocalJar(Scramble(Release(from)));
    ASSERT_EQ(PublishJar(Release(2)), next);
    size_t before = Requests().size();

    Run();

    EXPECT_EQ(ErrorText(), L"");
    EXPECT_EQ(Milestones(), (Steps{10, 20, 50, 70, 90, 100}));
    // Byte for byte the package, and its MD5 remembered like a downloaded one's.
    EXPECT_EQ(ReadBytes(workDir / "main.jar"), next);
    EXPECT_EQ(LocalJarMd5((workDir / "main.jar").wstring()), base::Utf8ToWide(Md5(next)));
    // The index, then one request for the missing ranges; nothing left beside the jar.
    Lines requests = Requests();
    EXPECT_EQ(Lines(requests.begin() + before, requests.end()),
              (Lines{App("libs.txt"), App("update.txt"), Pak(next) + ".idx", Pak(next)}));
    const std::string ranges = server.RangeHeaders(Pak(next)).back();
    EXPECT_EQ(ranges.rfind("bytes=", 0), 0u) << ranges;
    EXPECT_NE(ranges.find(','), std::string::npos) << "several ranges in one request: " << ranges;
    EXPECT_EQ(WorkingFiles(), (Lines{"main.jar", "t.log"}));

    // t.log says where the bytes came from: together the package, most of them the old jar's.
    auto [reused, fetched] = ReusedAndFetched();
    EXPECT_EQ(reused + fetched, static_cast<std::int64_t>(next.size()));
    const std::int64_t changed = 200000 + 2 * 6000 + 5000;  // about the three changed classes and the new one
    EXPECT_GT(fetched, changed / 2);
    EXPECT_LT(fetched, from == 1 ? changed * 12 / 10 : changed + 10 * 9000);
    EXPECT_TRUE(LinesStartingWith("differential update failed").empty());
    // The bar followed the fetched bytes.
    Steps between = DownloadSteps();
    EXPECT_TRUE(std::is_sorted(between.begin(), between.end()));

    Run();
    EXPECT_EQ(progress, (Steps{10, 20, 50, 70, 100}));
    EXPECT_EQ(Requests().size(), before + 6);
  }
}

TEST_F(DifferentialWorker, NoJarAtAllFetchesTheWholePackageAndNoIndex) {
  const std::string next = PublishJar(Release(2));
  Run();
  EXPECT_EQ(ErrorText(), L"");
  EXPECT_EQ(ReadBytes(workDir / "main.jar"), next);
  EXPECT_EQ(Requests(), (Lines{App("libs.txt"), App("update.txt"), Pak(next)}));
  EXPECT_EQ(server.RangeHeaders(Pak(next)), (Lines{""}));
  for (const std::string& line : LogLines()) EXPECT_EQ(line.find("differential"), std::string::npos) << line;
}

// Whatever goes wrong with the differential update, the same run downloads the package
// whole, once, and installs exactly the published bytes.
TEST_F(DifferentialWorker, FailuresFallBackToTheWholePackageInTheSameRun) {
  const std::string old = Scramble(Release(1));
  const std::string next = Scramble(Release(2));
  // Another package of the same length: one byte changed in a class that must be fetched.
  std::string sameLength = Release(2);
  sameLength[sameLength.find("zobj/C30.class") + 100] ^= 0x01;
  sameLength = Scramble(sameLength);
  struct Case {
    const char* name;
    std::function<void(DifferentialWorker&)> arrange;
    const char* reason;  // the start of the reason in "differential update failed: ", or null: none failed
  };
  auto idx = [next](DifferentialWorker& w) { return w.Pak(next) + ".idx"; };
  auto damage = [idx](DifferentialWorker& w, std::function<std::string(std::string)> change) {
    std::string bytes = ReadBytes(w.server.LocalPath(idx(w)));
    w.server.Put(idx(w), change(bytes));
  };
  const Case cases[] = {
      {"no index on the server", [idx](DifferentialWorker& w) { w.server.Remove(idx(w)); }, "no index"},
      {"a truncated index",
       [damage](DifferentialWorker& w) { damage(w, [](std::string b) { return b.substr(0, b.size() / 2); }); },
       "index damaged"},
      {"a damaged index",
       [damage](DifferentialWorker& w) { damage(w, [](std::string b) { b[b.size() / 3] ^= 0x20; return b; }); },
       "index damaged"},
      {"the index of another package",
       [idx, old](DifferentialWorker& w) {
         const std::string other = ReadBytes(w.server.LocalPath(w.Pak(old) + ".idx"));
         w.server.Put(idx(w), other);
       },
       "the index is of another package"},
      {"a server that ignores Range", [next](DifferentialWorker& w) { w.server.Behave(w.Pak(next), "ignore_range"); },
       "the server ignores Range"},
      {"the package replaced by a longer one after the index was fetched",
       [next](DifferentialWorker& w) {
         w.server.Put(w.App("longer.pak"), next + "more");
         w.server.Behave(w.Pak(next), "serve_file " + w.App("longer.pak") + "\ntimes 1");
       },
       "the package changed"},
      {"the package replaced by one of the same length after the index was fetched",
       [next, sameLength](DifferentialWorker& w) {
         w.server.Put(w.App("same-length.pak"), sameLength);
         w.server.Behave(w.Pak(next), "serve_file " + w.App("same-length.pak") + "\ntimes 1");
       },
       "md5 "},
      {"a server that repeats the parts it sends without end",
       [next](DifferentialWorker& w) { w.server.Behave(w.Pak(next), "repeat_parts"); },
       "an answer longer than the package"},
      {"a server that answers one range a request",
       [next](DifferentialWorker& w) { w.server.Behave(w.Pak(next), "single_range"); }, nullptr},
      {"a server that joins the ranges into one",
       [next](DifferentialWorker& w) { w.server.Behave(w.Pak(next), "join_ranges"); }, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::error_code ignored;
    fs::remove_all(workDir, ignored);
    PutLocalJar(old);
    ASSERT_EQ(PublishJar(Release(1)), old);  // for its index
    ASSERT_EQ(PublishJar(Release(2)), next);
    server.Behave(Pak(next), "");
    c.arrange(*this);
    size_t before = server.Requests(Pak(next)).size();

    Run();

    EXPECT_EQ(ErrorText(), L"");
    EXPECT_EQ(ReadBytes(workDir / "main.jar"), next);
    EXPECT_EQ(WorkingFiles(), (Lines{"main.jar", "t.log"}));
    EXPECT_EQ(Milestones(), (Steps{10, 20, 50, 70, 90, 100}));
    Lines failed = LinesStartingWith("differential update failed: ");
    Lines requests = server.Requests(Pak(next));
    requests.erase(requests.begin(), requests.begin() + static_cast<std::ptrdiff_t>(before));
    Lines headers = server.RangeHeaders(Pak(next));
    headers.erase(headers.begin(), headers.begin() + static_cast<std::ptrdiff_t>(before));
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.front(), Pak(next) + ".idx");
    if (c.reason == nullptr) {
      EXPECT_EQ(failed, Lines{});
      auto [reused, fetched] = ReusedAndFetched();
      EXPECT_EQ(reused + fetched, static_cast<std::int64_t>(next.size()));
      // Only requests for ranges after the index: no full download.
      ASSERT_GE(headers.size(), 2u);
      for (size_t i = 1; i < headers.size(); ++i) {
        EXPECT_EQ(headers[i].rfind("bytes=", 0), 0u) << headers[i];
        EXPECT_NE(headers[i].back(), '-') << headers[i];
      }
      continue;
    }
    ASSERT_EQ(failed.size(), 1u) << "one differential attempt";
    EXPECT_EQ(failed[0].rfind("differential update failed: " + std::string(c.reason), 0), 0u) << failed[0];
    EXPECT_EQ(ReusedAndFetched(), (std::pair<std::int64_t, std::int64_t>{-1, -1}));
    // After the index (and any range request) one full download, which goes on from the
    // bytes the differential update had built, or starts from nothing where they were wrong.
    const std::string& last = headers.back();
    EXPECT_TRUE(last.empty() || (last.find(',') == std::string::npos && last.back() == '-')) << last;
    if (std::string(c.reason) == "md5 ") {
      EXPECT_EQ(last, "");
    }
  }
}

TEST_F(DifferentialWorker, KilledMidUpdateGoesOnAtTheNextStart) {
  const fs::path child = testing_support::ExecutableDir() /
                         ("update_child" + fs::path(platform::ExecutablePath()).extension().string());
  ASSERT_TRUE(fs::exists(child)) << child;
  const std::string old = Scramble(Release(1));
  PutLocalJar(old);
  const std::string next = PublishJar(Release(2));
  // The server sends half of its answer to the range request and then waits.
  server.Behave(Pak(next), "hold\ntimes 1");

  const fs::path pidFile = install / "child.pid";
  platform::ProgramRun run;
  run.program = child.wstring();
  run.args = {settings.executablePath, settings.documentsFolder, settings.runtimeBaseUrl, pidFile.wstring()};
  int exitCode = 0;
  std::thread parent([&] { exitCode = platform::RunProgram(run); });
  const fs::path partial = workDir / Partial(next);
  auto held = [&] {
    std::error_code ec;
    std::uintmax_t size = fs::file_size(partial, ec);
    return ec ? 0 : size;
  };
  // Killed once the bytes of the first changed class are coming in: the bytes before it
  // were copied from the old jar.
  const std::uintmax_t firstChange = Release(2).find("zobj/C3.class");
  for (int i = 0; i < 1500 && !(fs::exists(pidFile) && held() > firstChange + 1000); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const bool started = fs::exists(pidFile);
  bool killed = false;
  if (started) killed = platform::EndProcess(std::stoul(ReadBytes(pidFile)));
  server.Release(Pak(next));
  parent.join();
  ASSERT_TRUE(started);
  ASSERT_TRUE(killed);
  EXPECT_NE(exitCode, 0);

  // What the killed run left: the old jar, and the first bytes of the new package.
  EXPECT_EQ(ReadBytes(workDir / "main.jar"), old);
  const std::string built = ReadBytes(partial);
  ASSERT_GT(built.size(), firstChange);
  ASSERT_LT(built.size(), next.size());
  EXPECT_EQ(built, next.substr(0, built.size()));

  size_t before = server.Requests(Pak(next)).size();
  Run();
  EXPECT_EQ(ErrorText(), L"");
  EXPECT_EQ(ReadBytes(workDir / "main.jar"), next);
  EXPECT_EQ(WorkingFiles(), (Lines{"main.jar", "t.log"}));
  // The index again, then only ranges after the bytes on disk.
  Lines requests = server.Requests(Pak(next));
  EXPECT_EQ(Lines(requests.begin() + static_cast<std::ptrdiff_t>(before), requests.end()),
            (Lines{Pak(next) + ".idx", Pak(next)}));
  const std::string ranges = server.RangeHeaders(Pak(next)).back();
  const std::uint64_t firstAsked = std::stoull(ranges.substr(6));
  EXPECT_GE(firstAsked, built.size()) << ranges;
  EXPECT_EQ(LinesStartingWith("differential update went on from "),
            (Lines{"differential update went on from " + std::to_string(built.size()) + " bytes"}));
  auto [reused, fetched] = ReusedAndFetched();
  EXPECT_EQ(static_cast<std::uint64_t>(reused + fetched), next.size() - built.size());
}
}  // namespace
