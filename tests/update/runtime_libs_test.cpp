// libs.txt and the runtime libraries, against the suite's own server; the working folder
// is a fresh temporary folder.
#include "update/runtime_libs.h"

#include <algorithm>
#include <filesystem>

#include "http_case.h"

namespace fs = std::filesystem;
using testing_support::NativeSeparators;
using testing_support::ReadBytes;
using testing_support::WriteBytes;
using Lines = std::vector<std::string>;

namespace {

TEST(LibList, EntriesAreTrimmedAndUnsafeOnesSetApart) {
  LibList list = ParseLibList(
      L";; lib/a.jar ;\tb.jar\r\n;;a/b/c.jar;lib/a.jar;..x.jar;lib/..y/z.jar; ;"
      L"/etc/x.jar;C:/x.jar;c:x.jar;../up.jar;lib/../../up.jar;lib/..;lib\\w.jar;"
      L"lib/\x01.jar;lib/a\tb.jar;lib/;x.jar:stream\n");
  EXPECT_EQ(list.accepted, (std::vector<std::wstring>{L"lib/a.jar", L"b.jar", L"a/b/c.jar", L"lib/a.jar",
                                                      L"..x.jar", L"lib/..y/z.jar"}));
  EXPECT_EQ(list.rejected,
            (std::vector<std::wstring>{L"/etc/x.jar", L"C:/x.jar", L"c:x.jar", L"../up.jar", L"lib/../../up.jar",
                                       L"lib/..", L"lib\\w.jar", L"lib/\x01.jar", L"lib/a\tb.jar", L"lib/",
                                       L"x.jar:stream"}));
  EXPECT_TRUE(ParseLibList(L"").accepted.empty());
  EXPECT_TRUE(ParseLibList(L" ;\r\n; ").rejected.empty());
}

class Libs : public HttpCase {
 protected:
  // One run of the synchronisation into the working folder; its class-path part.
  std::vector<std::wstring> Sync() {
    return SyncRuntimeLibs(Url("app/libs.txt"), Url("install/runtime/"), work.WPath());
  }
  // The full paths of entries written with '/'.
  std::vector<std::wstring> InWork(const std::vector<std::wstring>& entries) const {
    std::vector<std::wstring> paths;
    for (const std::wstring& e : entries) paths.push_back(platform::JoinPath(work.WPath(), platform::ToNativeSeparators(e)));
    return paths;
  }

  void PutLib(const std::string& entry, const std::string& bytes) {
    server.Put(folder + "install/runtime/" + entry, bytes);
  }
  std::string Lib(const std::string& entry) const { return folder + "install/runtime/" + entry; }
  // The files of the working folder other than t.log, as relative paths with '/'.
  Lines WorkingFiles() const {
    Lines files;
    for (auto& e : fs::recursive_directory_iterator(work.Path())) {
      std::string rel = fs::relative(e.path(), work.Path()).generic_string();
      if (e.is_regular_file() && rel != "t.log") files.push_back(rel);
    }
    std::sort(files.begin(), files.end());
    return files;
  }
};

TEST_F(Libs, MissingLibrariesAreFetchedOnceAndTheListBecomesTheClassPath) {
  const std::string list =
      "lib/a.jar;lib/b.jar;;c.jar; lib/b.jar ;a/b/c.jar;../evil.jar;/abs.jar;lib\\w.jar\r\n";
  server.Put(folder + "app/libs.txt", list);
  PutLib("lib/a.jar", "server a");
  PutLib("lib/b.jar", BinaryBody(70000, 2));
  PutLib("c.jar", "c");
  PutLib("a/b/c.jar", "deep");
  server.Put(folder + "install/evil.jar", "evil");
  fs::create_directory(work / "lib");
  WriteBytes(work / "lib" / "a.jar", "local a");

  std::vector<std::wstring> classPath = Sync();

  // The list once, then each missing library once, in the order of the list.
  EXPECT_EQ(Requests(), (Lines{folder + "app/libs.txt", Lib("lib/b.jar"), Lib("c.jar"), Lib("a/b/c.jar")}));
  // A present library stays as it is, whatever the server holds.
  EXPECT_EQ(ReadBytes(work / "lib" / "a.jar"), "local a");
  EXPECT_EQ(ReadBytes(work / "lib" / "b.jar"), BinaryBody(70000, 2));
  EXPECT_EQ(ReadBytes(work / "c.jar"), "c");
  EXPECT_EQ(ReadBytes(work / "a" / "b" / "c.jar"), "deep");
  EXPECT_EQ(WorkingFiles(), (Lines{"a/b/c.jar", "c.jar", "lib/a.jar", "lib/b.jar"}));
  EXPECT_FALSE(fs::exists(work.Path().parent_path() / "evil.jar"));

  std::wstring expected = L"lib/a.jar;lib/b.jar;c.jar;lib/b.jar;a/b/c.jar";
  EXPECT_EQ(classPath, InWork({L"lib/a.jar", L"lib/b.jar", L"c.jar", L"lib/b.jar", L"a/b/c.jar"}));

  const std::string base = Narrow(Url("install/runtime/"));
  const std::string libs = Narrow(Url("app/libs.txt"));
  EXPECT_EQ(LogLines(), (Lines{
                            "start get url: " + libs,
                            "http complete, len = " + std::to_string(list.size()),
                            "skip unsafe lib entry: ../evil.jar",
                            "skip unsafe lib entry: /abs.jar",
                            "skip unsafe lib entry: lib\\w.jar",
                            "set lib text:" + Narrow(expected),
                            "start get url: " + base + "lib/b.jar",
                            "http complete, len = 70000",
                            "download file lib/b.jar, from " + base + "lib/b.jar",
                            "start get url: " + base + "c.jar",
                            "http complete, len = 1",
                            "download file c.jar, from " + base + "c.jar",
                            "start get url: " + base + "a/b/c.jar",
                            "http complete, len = 4",
                            "download file a/b/c.jar, from " + base + "a/b/c.jar",
                        }));

  // The next start finds them all and asks for the list alone.
  EXPECT_EQ(Sync(), classPath);
  EXPECT_EQ(Requests().size(), 5u);
}

TEST_F(Libs, LibraryAttemptsRetryButTheListGetsOne) {
  server.Put(folder + "app/libs.txt", "flaky.jar;gone.jar;cut.jar;empty.jar");
  PutLib("flaky.jar", "flaky");
  server.Behave(Lib("flaky.jar"), "status 500\ntimes 2");
  server.Behave(Lib("gone.jar"), "status 404");
  PutLib("cut.jar", BinaryBody(50000));
  server.Behave(Lib("cut.jar"), "truncate 20000");
  PutLib("empty.jar", "");

  std::vector<std::wstring> classPath = Sync();
  EXPECT_EQ(classPath, InWork({L"flaky.jar", L"gone.jar", L"cut.jar", L"empty.jar"}));
  EXPECT_EQ(Requests(), (Lines{folder + "app/libs.txt", Lib("flaky.jar"), Lib("flaky.jar"), Lib("flaky.jar"),
                               Lib("gone.jar"), Lib("gone.jar"), Lib("gone.jar"), Lib("cut.jar"),
                               Lib("cut.jar"), Lib("cut.jar"), Lib("empty.jar")}));
  // A library cut short is never written, not even in part; an empty one is a library.
  EXPECT_EQ(WorkingFiles(), (Lines{"empty.jar", "flaky.jar"}));
  EXPECT_EQ(ReadBytes(work / "flaky.jar"), "flaky");

  // The list itself: one attempt, and without it no library is on the class path.
  server.Behave(folder + "app/libs.txt", "status 503");
  EXPECT_TRUE(Sync().empty());
  EXPECT_EQ(server.Requests(folder + "app/").size(), 2u);
  EXPECT_EQ(Requests().size(), 12u);
}

TEST_F(Libs, EmptyListPutsNothingOnTheClassPathAndFetchesNothing) {
  for (const std::string& body : {std::string(), std::string("\0lib/a.jar", 10)}) {
    server.Put(folder + "app/libs.txt", body);
    EXPECT_TRUE(Sync().empty());
  }
  EXPECT_EQ(Requests(), (Lines{folder + "app/libs.txt", folder + "app/libs.txt"}));
  EXPECT_TRUE(WorkingFiles().empty());
}

}  // namespace
