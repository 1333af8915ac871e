// The whole update run against the suite's own server: an installation folder (launcher
// path, Config.ini, runtime) and a Documents folder of the case's own, and the run on a
// thread of its own as in the launcher.
//
// The Java runtime beside the program is a stand-in file: the update only checks that the
// runtime library is there; loading it is the Java host's business and tested there.
#include "update/update_worker.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "branding.h"
#include "diagnostics/log.h"
#include "diagnostics/program_version.h"
#include "javahost/runtime_layout.h"
#include "launch/user_texts.h"
#include "platform/http.h"
#include "platform/platform.h"
#include "support/http_server.h"
#include "support/test_support.h"
#include "update/md5_checksum.h"
#include "update/package.h"
#include "update/working_folder.h"

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
  return platform::WideToUtf8(CMD5Checksum::GetMD5(bytes.data(), bytes.size()));
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
    jvm = exeDir / fs::path(RuntimeLibraryCandidates().front());
    fs::create_directories(jvm.parent_path());
    WriteBytes(jvm, "stand-in runtime library");
    NewState();
  }

  // Windows cannot remove a folder that holds an open t.log.
  ~Worker() override { theLog.StartAt(L""); }

  static std::string Narrow(const std::wstring& text) { return platform::WideToUtf8(text); }

  // A fresh record, as a new process has, whose progress values the case sees.
  void NewState() {
    progress.clear();
    state = std::make_unique<LaunchState>([this](int value) { progress.push_back(value); });
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

  void Publish(const std::string& package, const std::string& versionText) {
    server.Put(App(Md5(package) + ".pak"), package);
    server.Put(App("update.txt"), versionText);
  }
  void PutLocalJar(const std::string& bytes) {
    fs::create_directories(workDir);
    WriteBytes(workDir / "main.jar", bytes);
  }

  Lines WorkingFiles() const {
    Lines files;
    for (auto& e : fs::recursive_directory_iterator(workDir)) {
      if (e.is_regular_file()) files.push_back(fs::relative(e.path(), workDir).generic_string());
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

  Lines lines = LogLines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "curr version: " + Narrow(ProgramVersionText()));
  EXPECT_EQ(lines[1], "start get url: " + Narrow(server.Url(App("libs.txt"))));
  EXPECT_EQ(lines[2], "http complete, len = 10");
  EXPECT_EQ(lines[3], "set lib text:lib/x.jar");
  EXPECT_EQ(lines[4], "start get url: " + Narrow(server.Url(App("update.txt"))));
  EXPECT_EQ(lines[5], "http complete, len = 34");
}

TEST_F(Worker, NewVersionReplacesTheJarAndTheNextRunFindsItCurrent) {
  const std::string next = testing_support::BinaryBody(300000, 2);
  server.Put(App("libs.txt"), "lib/x.jar");
  server.Put(Lib("lib/x.jar"), "library");
  Publish(next, Md5(next) + "\n");

  for (bool hasOldJar : {false, true}) {
    SCOPED_TRACE(hasOldJar ? "outdated jar" : "no jar yet");
    std::error_code ignored;
    fs::remove_all(workDir, ignored);
    if (hasOldJar) PutLocalJar(testing_support::BinaryBody(1000, 3));
    size_t before = Requests().size();

    Run();

    EXPECT_EQ(progress, (Steps{10, 20, 50, 70, 90, 100}));
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
  const std::string next = testing_support::BinaryBody(7000, 5);
  struct Case {
    const char* name;
    std::function<void(Worker&)> arrange;
    std::wstring error;
    Steps steps;
    std::function<Lines(Worker&)> requests;
  };
  const Case cases[] = {
      {"no Java runtime", [](Worker& w) { fs::remove(w.jvm); }, L"本地JAVA环境出错，请重新重新安装软件！", {100},
       [](Worker&) { return Lines{}; }},
      {"no Config.ini", [](Worker& w) { fs::remove(w.exeDir / "Config.ini"); }, L"找不到本地配置文件！", {10, 100},
       [](Worker&) { return Lines{}; }},
      {"URL without a slash",
       [](Worker& w) { WriteBytes(w.exeDir / "Config.ini", "main.jar"); }, kVersionError, {10, 20, 50, 100},
       [](Worker&) { return Lines{}; }},
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
      {"package cut short",
       [next](Worker& w) { w.server.Behave(w.App(Md5(next) + ".pak"), "truncate 3500"); }, kPackageError,
       {10, 20, 50, 70, 100},
       [next](Worker& w) {
         std::string pak = w.App(Md5(next) + ".pak");
         return Lines{w.App("libs.txt"), w.App("update.txt"), pak, pak, pak};
       }},
      {"empty version file beside a jar",
       // Names the package ".pak"; no body can have the MD5 "", so nothing is installed.
       [](Worker& w) {
         w.server.Put(w.App("update.txt"), " \r\n");
         w.server.Put(w.App(".pak"), "anything");
       },
       kPackageError, {10, 20, 50, 70, 100},
       [](Worker& w) { return Lines{w.App("libs.txt"), w.App("update.txt"), w.App(".pak"), w.App(".pak"), w.App(".pak")}; }},
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
    EXPECT_EQ(progress, c.steps);
    Lines requests = Requests();
    EXPECT_EQ(Lines(requests.begin() + before, requests.end()), c.requests(*this));
    // A failed run leaves the old jar as it was.
    EXPECT_EQ(ReadBytes(workDir / "main.jar"), old);
  }
}

TEST_F(Worker, JarThatCannotBeReplacedStaysAndIsReported) {
  // A folder in the jar's place with a file in it: no rename can put a file over it, on
  // either system, just as when another program holds the jar or the disk is full.
  fs::create_directories(workDir / "main.jar");
  WriteBytes(workDir / "main.jar" / "inside", "kept");
  const std::string next = testing_support::BinaryBody(9000, 7);
  server.Put(App("libs.txt"), "");
  Publish(next, Md5(next));

  Run();

  EXPECT_EQ(ErrorText(), kWriteError);
  EXPECT_EQ(progress, (Steps{10, 20, 50, 70, 90, 100}));
  EXPECT_EQ(WorkingFiles(), (Lines{"main.jar/inside", "t.log"}));
  EXPECT_EQ(ReadBytes(workDir / "main.jar" / "inside"), "kept");
  EXPECT_EQ(LogLines().back().rfind("exception:", 0), 0u) << LogLines().back();
}

TEST_F(Worker, DownloadStoppedHalfwayLeavesTheOldJarAndTheNextRunCompletes) {
  const std::string old = testing_support::BinaryBody(2000, 8);
  const std::string next = testing_support::BinaryBody(2 * 1024 * 1024, 9);
  PutLocalJar(old);
  server.Put(App("libs.txt"), "");
  Publish(next, Md5(next));
  const std::string pak = App(Md5(next) + ".pak");
  // Every attempt of this run gets half the package; the first is held open meanwhile.
  server.Behave(pak, "hold\ntimes 3");

  NewState();
  std::thread worker([this] { RunUpdateAndPublish(settings, *state); });
  ASSERT_TRUE(AwaitRequest(pak));
  // Halfway through the download: whatever ends the process now (a kill, a power cut)
  // finds the old jar whole and nothing else under its name.
  EXPECT_EQ(ReadBytes(workDir / "main.jar"), old);
  EXPECT_EQ(WorkingFiles(), (Lines{"main.jar", "t.log"}));
  EXPECT_EQ(state->Progress(), 70);
  server.Release(pak);
  worker.join();
  EXPECT_EQ(ErrorText(), kPackageError);
  EXPECT_EQ(ReadBytes(workDir / "main.jar"), old);
  EXPECT_EQ(WorkingFiles(), (Lines{"main.jar", "t.log"}));

  Run();
  EXPECT_EQ(ErrorText(), L"");
  EXPECT_EQ(progress, (Steps{10, 20, 50, 70, 90, 100}));
  EXPECT_EQ(ReadBytes(workDir / "main.jar"), next);
}

TEST_F(Worker, EmptyVersionFileAndNoJarAreCurrent) {
  server.Put(App("libs.txt"), "");
  server.Put(App("update.txt"), "\r\n");
  Run();
  EXPECT_EQ(ErrorText(), L"");
  EXPECT_EQ(progress, (Steps{10, 20, 50, 70, 100}));
  EXPECT_EQ(Requests(), (Lines{App("libs.txt"), App("update.txt")}));
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

}  // namespace
