// libs.txt and the runtime libraries, against the suite's own server; the working folder
// is a fresh temporary folder.
#include "update/runtime_libs.h"

#include <algorithm>
#include <filesystem>

#include "base/text.h"
#include "http_case.h"
#include "zip_bytes.h"

namespace fs = std::filesystem;
using testing_support::NativeSeparators;
using testing_support::ReadBytes;
using testing_support::WriteBytes;
using zip_bytes::Jar;
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

TEST(LibList, EntriesThatWindowsWouldChangeOrTheClassLoaderWouldPreferAreRefused) {
  const struct {
    std::wstring entry;
    bool safePath;    // names a file below the working folder
    bool shadows;     // read by the class loader ahead of the application's jar
  } cases[] = {
      // Libraries, whatever their characters.
      {L"lib/x.jar", true, false},
      {L"lib/a b.jar", true, false},
      {L"lib/\x5E93.jar", true, false},
      {L"\x00E9t\x00E9/caf\x00E9.jar", true, false},
      {L"lib/100%.jar", true, false},
      {L"lib/x#1.jar", true, false},
      {L"lib/natives.dll", true, false},
      {L"lib/x.classes.jar", true, false},
      {L"lib/class", true, false},
      {L"META-INF.jar", true, false},
      {L"lib/META-INF/x.jar", true, false},  // only the class path element's own META-INF counts
      {L"console.jar", true, false},
      {L"com10.jar", true, false},
      {L"lpt0.jar", true, false},
      {L"nul-device.jar", true, false},
      {L"lib/.hidden.jar", true, false},
      // Class files and META-INF: the working folder is on the class path ahead of the jar.
      {L"zobj/Run.class", true, true},
      {L"Run.CLASS", true, true},
      {L"a/b/c.Class", true, true},
      {L"zobj/Run.cla\x017F\x017F", true, true},  // long s: Windows compares it as an S
      {L"META-INF/MANIFEST.MF", true, true},
      {L"meta-inf/services/java.nio.file.spi.FileSystemProvider", true, true},
      {L"Meta-Inf", true, true},
      {L"META-INF/lib.jar", true, true},
      {L"meta-\x0131nf/x.jar", true, true},  // dotless i
      // What Windows forbids in a name: a captive portal's page split at ';'.
      {L"<!DOCTYPE html>\n<html><head><title>Login</title></head><body><a href=\"/x\">x</a></body></html>", false, false},
      {L"lib/<x>.jar", false, false},
      {L"lib/x>.jar", false, false},
      {L"a\"b.jar", false, false},
      {L"a|b.jar", false, false},
      {L"a?.jar", false, false},
      {L"a*.jar", false, false},
      {L"lib/a\x1F.jar", false, false},
      {L"lib/a\x7F.jar", false, false},
      {L"lib/a\x85.jar", false, false},
      // Device names, with or without an extension, in any case, as any part.
      {L"con", false, false},
      {L"CON.jar", false, false},
      {L"lib/nul.tar.gz", false, false},
      {L"aux/x.jar", false, false},
      {L"Prn.jar", false, false},
      {L"com1.jar", false, false},
      {L"lib/COM9", false, false},
      {L"LPT1.jar", false, false},
      {L"lpt9/x.jar", false, false},
      {L"com\x00B9.jar", false, false},
      {L"lpt\x00B3.jar", false, false},
      {L"con .jar", false, false},
      {L"CONIN$", false, false},
      {L"conout$.jar", false, false},
      // Parts ending in a dot or a space, which Windows drops.
      {L"lib/x.jar.", false, false},
      {L"lib./x.jar", false, false},
      {L"lib /x.jar", false, false},
      {L"./x.jar", false, false},
      {L"lib/./x.jar", false, false},
      {L"zobj/Run.class.", false, false},  // refused all the same, as Windows's Run.class
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(base::WideToUtf8(c.entry));
    EXPECT_EQ(IsSafeLibPath(c.entry), c.safePath);
    EXPECT_EQ(ShadowsApplication(c.entry), c.shadows);
    EXPECT_EQ(IsSafeLibEntry(c.entry), c.safePath && !c.shadows);
    LibList list = ParseLibList(L" " + c.entry + L" ;");
    EXPECT_EQ(list.accepted.size(), c.safePath && !c.shadows ? 1u : 0u);
    EXPECT_EQ(list.rejected.size(), c.safePath && !c.shadows ? 0u : 1u);
  }
}

TEST(LibList, TheListIsReadAsUtf8OrElseInTheAnsiCodePage) {
  auto text = [](const std::string& bytes) {
    return LibListText(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  };
  EXPECT_EQ(text("lib/a.jar;lib/b.jar\r\n"), L"lib/a.jar;lib/b.jar\r\n");
  EXPECT_EQ(text("lib/\xE5\xBA\x93.jar;lib/\xC3\xA9.jar"), L"lib/\x5E93.jar;lib/\x00E9.jar");
  // Notepad's byte order mark goes; one elsewhere is part of the text.
  EXPECT_EQ(text("\xEF\xBB\xBFlib/a.jar;\xEF\xBB\xBF"), L"lib/a.jar;\xFEFF");
  // Up to the first zero byte.
  EXPECT_EQ(text(std::string("a.jar\0b.jar", 11)), L"a.jar");
  EXPECT_EQ(text(""), L"");
  EXPECT_EQ(LibListText(nullptr, 0), L"");
  // Not UTF-8 (GBK for "lib/库.jar"): the system's ANSI code page, which on Linux is UTF-8
  // itself. On a Chinese Windows that gives the name back (see the server test below).
  const std::string gbk = "lib/\xBF\xE2.jar";
  EXPECT_EQ(text(gbk), platform::ThreadAnsiToWide(gbk));
  EXPECT_NE(text(gbk), L"lib/\x00BF\x00E2.jar");
}

TEST(LibList, OnlyWholeArchivesAreStoredAsJarsAndNothingEmptyAtAll) {
  const std::string jar = Jar("code");
  const std::string page = "<!DOCTYPE html><html><body>Sign in to the network</body></html>";
  const struct {
    std::wstring entry;
    std::string bytes;
    bool storable;
  } cases[] = {
      {L"lib/x.jar", jar, true},
      {L"lib/x.JAR", jar, true},
      {L"lib/x.zip", jar, true},
      {L"lib/x.Zip", jar, true},
      {L"lib/x.jar", page, false},
      {L"lib/x.JAR", page, false},
      {L"lib/x.zip", page, false},
      {L"lib/x.jar", jar.substr(0, jar.size() - 1), false},
      {L"lib/x.jar", "", false},
      // Other files are taken as they come, but never empty.
      {L"lib/natives.dll", page, true},
      {L"lib/x.jar.txt", page, true},
      {L"lib/natives.dll", "", false},
  };
  testing_support::TempDir dir;
  const fs::path file = dir / "downloaded.part";
  for (const auto& c : cases) {
    WriteBytes(file, c.bytes);
    EXPECT_EQ(IsStorableLibrary(c.entry, file.wstring()), c.storable)
        << base::WideToUtf8(c.entry) << ", " << c.bytes.size() << " bytes";
  }
  EXPECT_FALSE(IsStorableLibrary(L"lib/natives.dll", (dir / "missing").wstring()));
  EXPECT_FALSE(IsStorableLibrary(L"lib/x.jar", (dir / "missing").wstring()));
}

class Libs : public HttpCase {
 protected:
  // One run of the synchronisation into the working folder; its class-path part.
  std::vector<std::wstring> Sync() { return SyncInto(work.WPath()); }
  std::vector<std::wstring> SyncInto(const std::wstring& folder) {
    return SyncRuntimeLibs(Url("app/libs.txt"), Url("install/runtime/"), folder);
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
  // A path below the working folder with '/', in UTF-8 (wide text would need a UTF-8
  // locale on Linux).
  std::string Relative(const fs::path& path) const {
    std::u8string rel = fs::relative(path, work.Path()).generic_u8string();
    return std::string(rel.begin(), rel.end());
  }
  // The files of the working folder other than t.log, as relative paths with '/' in UTF-8.
  Lines WorkingFiles() const {
    Lines files;
    for (auto& e : fs::recursive_directory_iterator(work.Path())) {
      std::string rel = Relative(e.path());
      if (e.is_regular_file() && rel != "t.log") files.push_back(rel);
    }
    std::sort(files.begin(), files.end());
    return files;
  }
  // The folders of the working folder, likewise.
  Lines WorkingFolders() const {
    Lines folders;
    for (auto& e : fs::recursive_directory_iterator(work.Path())) {
      if (e.is_directory()) folders.push_back(Relative(e.path()));
    }
    std::sort(folders.begin(), folders.end());
    return folders;
  }
  // The file of an entry written in UTF-8, below the working folder.
  fs::path FileOf(const std::string& entry) const {
    return work.Path() / fs::path(std::u8string(entry.begin(), entry.end()));
  }
  // A log line as t.log holds it: in the ANSI code page (UTF-8 on Linux).
  static std::string Ansi(const std::wstring& text) { return platform::WideToAnsi(text); }
  // The requests for paths that start with `prefix`, in their order.
  Lines RequestsUnder(const std::string& prefix) const {
    Lines under;
    for (const std::string& path : Requests())
      if (path.compare(0, prefix.size(), prefix) == 0) under.push_back(path);
    return under;
  }
  size_t RequestsOf(const std::string& path) const {
    Lines all = Requests();
    return static_cast<size_t>(std::count(all.begin(), all.end(), path));
  }
};

TEST_F(Libs, MissingLibrariesAreFetchedOnceAndTheListBecomesTheClassPath) {
  const std::string list =
      "lib/a.jar;lib/b.jar;;c.jar; lib/b.jar ;a/b/c.jar;../evil.jar;/abs.jar;lib\\w.jar\r\n";
  const std::string b = Jar(BinaryBody(70000, 2)), c = Jar("c"), deep = Jar("deep");
  server.Put(folder + "app/libs.txt", list);
  PutLib("lib/a.jar", Jar("server a"));
  PutLib("lib/b.jar", b);
  PutLib("c.jar", c);
  PutLib("a/b/c.jar", deep);
  server.Put(folder + "install/evil.jar", Jar("evil"));
  fs::create_directory(work / "lib");
  WriteBytes(work / "lib" / "a.jar", "local a");

  std::vector<std::wstring> classPath = Sync();

  // The list once, then each missing library once, in the order of the list.
  EXPECT_EQ(Requests(), (Lines{folder + "app/libs.txt", Lib("lib/b.jar"), Lib("c.jar"), Lib("a/b/c.jar")}));
  // A present library stays as it is, whatever the server holds.
  EXPECT_EQ(ReadBytes(work / "lib" / "a.jar"), "local a");
  EXPECT_EQ(ReadBytes(work / "lib" / "b.jar"), b);
  EXPECT_EQ(ReadBytes(work / "c.jar"), c);
  EXPECT_EQ(ReadBytes(work / "a" / "b" / "c.jar"), deep);
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
                            "http complete, len = " + std::to_string(b.size()),
                            "download file lib/b.jar, from " + base + "lib/b.jar",
                            "start get url: " + base + "c.jar",
                            "http complete, len = " + std::to_string(c.size()),
                            "download file c.jar, from " + base + "c.jar",
                            "start get url: " + base + "a/b/c.jar",
                            "http complete, len = " + std::to_string(deep.size()),
                            "download file a/b/c.jar, from " + base + "a/b/c.jar",
                        }));

  // The next start finds them all and asks for the list alone.
  EXPECT_EQ(Sync(), classPath);
  EXPECT_EQ(Requests().size(), 5u);
}

TEST_F(Libs, LibraryAttemptsRetryButTheListGetsOne) {
  server.Put(folder + "app/libs.txt", "flaky.jar;gone.jar;cut.jar;empty.jar");
  PutLib("flaky.jar", Jar("flaky"));
  server.Behave(Lib("flaky.jar"), "status 500\ntimes 2");
  server.Behave(Lib("gone.jar"), "status 404");
  PutLib("cut.jar", Jar(BinaryBody(50000)));
  server.Behave(Lib("cut.jar"), "truncate 20000");
  PutLib("empty.jar", "");

  std::vector<std::wstring> classPath = Sync();
  EXPECT_EQ(classPath, InWork({L"flaky.jar", L"gone.jar", L"cut.jar", L"empty.jar"}));
  EXPECT_EQ(Requests(), (Lines{folder + "app/libs.txt", Lib("flaky.jar"), Lib("flaky.jar"), Lib("flaky.jar"),
                               Lib("gone.jar"), Lib("gone.jar"), Lib("gone.jar"), Lib("cut.jar"),
                               Lib("cut.jar"), Lib("cut.jar"), Lib("empty.jar")}));
  // A library cut short is never written, not even in part; nor is an empty one.
  EXPECT_EQ(WorkingFiles(), (Lines{"flaky.jar"}));
  EXPECT_EQ(ReadBytes(work / "flaky.jar"), Jar("flaky"));

  // The list itself: one attempt, and without it no library is on the class path.
  server.Behave(folder + "app/libs.txt", "status 503");
  EXPECT_TRUE(Sync().empty());
  EXPECT_EQ(server.Requests(folder + "app/").size(), 2u);
  EXPECT_EQ(Requests().size(), 12u);
}

TEST_F(Libs, EmptyListPutsNothingOnTheClassPathAndFetchesNothing) {
  for (const std::string& body : {std::string(), std::string("\0lib/a.jar", 10), std::string("\xEF\xBB\xBF")}) {
    server.Put(folder + "app/libs.txt", body);
    EXPECT_TRUE(Sync().empty());
  }
  EXPECT_EQ(Requests(), (Lines{folder + "app/libs.txt", folder + "app/libs.txt", folder + "app/libs.txt"}));
  EXPECT_TRUE(WorkingFiles().empty());
}

// A body that is no library is not stored: the run goes on, and the next start asks again.
TEST_F(Libs, BadBodiesAreNeverStoredAndAreFetchedAgainAtTheNextStart) {
  const std::string jar = Jar(BinaryBody(5000, 4));
  const std::string page =
      "<!DOCTYPE html>\n<html><head><title>Wi-Fi</title></head><body>Sign in first</body></html>\n";
  const struct {
    std::string entry;
    std::string body;        // what the server holds
    std::string directives;  // how it answers
    bool answered200;        // a 200 whose body is refused here, whatever FetchBuffer makes of statuses
  } cases[] = {
      {"lib/page.jar", page, "", true},
      {"lib/PAGE.ZIP", page, "", true},
      {"lib/cut.jar", jar.substr(0, jar.size() / 2), "close", true},  // connection closed, no length
      {"lib/cut-tail.jar", jar.substr(0, jar.size() - 1), "chunked", true},
      {"lib/empty.jar", "", "", true},
      {"lib/empty.dll", "", "", true},
      {"lib/no-content.jar", "", "status 204", false},
      {"lib/moved.jar", "", "redirect_no_location", false},
  };
  std::string list;
  std::vector<std::wstring> entries;
  for (const auto& c : cases) {
    list += c.entry + ";";
    entries.push_back(base::Utf8ToWide(c.entry));
    PutLib(c.entry, c.body);
    if (!c.directives.empty()) server.Behave(Lib(c.entry), c.directives);
  }
  // An empty file that an earlier version stored counts as missing.
  fs::create_directories(work / "lib");
  WriteBytes(work / "lib" / "stored-empty.jar", "");
  PutLib("lib/stored-empty.jar", jar);
  list += "lib/stored-empty.jar";
  entries.push_back(L"lib/stored-empty.jar");
  server.Put(folder + "app/libs.txt", list);

  EXPECT_EQ(Sync(), InWork(entries));
  EXPECT_EQ(WorkingFiles(), (Lines{"lib/stored-empty.jar"}));
  EXPECT_EQ(ReadBytes(work / "lib" / "stored-empty.jar"), jar);
  Lines log = LogLines();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry);
    EXPECT_GE(RequestsOf(Lib(c.entry)), 1u);
    EXPECT_TRUE(std::none_of(log.begin(), log.end(), [&](const std::string& line) {
      return line.rfind("download file " + c.entry + ",", 0) == 0;
    }));
    if (c.answered200) {
      // Fetched whole once, refused, not tried again in this run.
      EXPECT_EQ(RequestsOf(Lib(c.entry)), 1u);
      EXPECT_EQ(std::count(log.begin(), log.end(), "invalid lib file: " + c.entry), 1);
    }
  }

  // The next start asks for each of them again (and not for the stored one).
  std::vector<size_t> before;
  for (const auto& c : cases) before.push_back(RequestsOf(Lib(c.entry)));
  EXPECT_EQ(Sync(), InWork(entries));
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_GT(RequestsOf(Lib(cases[i].entry)), before[i]) << cases[i].entry;
  EXPECT_EQ(RequestsOf(Lib("lib/stored-empty.jar")), 1u);
  EXPECT_EQ(WorkingFiles(), (Lines{"lib/stored-empty.jar"}));

  // Once the server serves them right, they are stored.
  Lines expected;
  for (const auto& c : cases) {
    server.Behave(Lib(c.entry), "");
    PutLib(c.entry, jar);
    expected.push_back(c.entry);
  }
  expected.push_back("lib/stored-empty.jar");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Sync(), InWork(entries));
  EXPECT_EQ(WorkingFiles(), expected);
  for (const auto& c : cases) EXPECT_EQ(ReadBytes(FileOf(c.entry)), jar) << c.entry;
}

TEST_F(Libs, ClassFilesAndMetaInfNeverShadowTheApplication) {
  // The working folder is a folder of its own here, so that an unsafe entry can point at a
  // real file outside it.
  const fs::path wf = work / "wf";
  fs::create_directories(wf / "zobj");
  fs::create_directories(wf / "META-INF" / "services");
  WriteBytes(wf / "zobj" / "Run.class", "stored by an earlier version");
  WriteBytes(wf / "META-INF" / "services" / "x.Provider", "stored by an earlier version");
  WriteBytes(work / "Outside.class", "not the launcher's");
  const std::string lib = Jar("lib");
  PutLib("zobj/Run.class", "\xCA\xFE\xBA\xBE");
  PutLib("META-INF/services/x.Provider", "evil.Provider");
  PutLib("lib/a.jar", lib);
  server.Put(folder + "app/libs.txt",
             "zobj/Run.class;META-INF/services/x.Provider;lib/a.jar;../Outside.class;zobj/Gone.class");

  std::vector<std::wstring> classPath = SyncInto(wf.wstring());

  EXPECT_EQ(classPath, (std::vector<std::wstring>{(wf / "lib" / "a.jar").wstring()}));
  EXPECT_EQ(Requests(), (Lines{folder + "app/libs.txt", Lib("lib/a.jar")}));
  // What was stored for them is gone; what lies outside the working folder is not touched.
  EXPECT_FALSE(fs::exists(wf / "zobj" / "Run.class"));
  EXPECT_FALSE(fs::exists(wf / "META-INF" / "services" / "x.Provider"));
  EXPECT_EQ(ReadBytes(work / "Outside.class"), "not the launcher's");
  EXPECT_EQ(ReadBytes(wf / "lib" / "a.jar"), lib);
  Lines log = LogLines();
  ASSERT_GE(log.size(), 9u);
  EXPECT_EQ(Lines(log.begin() + 2, log.begin() + 9),
            (Lines{"skip unsafe lib entry: zobj/Run.class", "remove lib file: zobj/Run.class",
                   "skip unsafe lib entry: META-INF/services/x.Provider",
                   "remove lib file: META-INF/services/x.Provider", "skip unsafe lib entry: ../Outside.class",
                   "skip unsafe lib entry: zobj/Gone.class", "set lib text:lib/a.jar"}));
}

TEST_F(Libs, ACaptivePortalPageAsTheListLeavesNothingBehind) {
  server.Put(folder + "app/libs.txt",
             "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Guest Wi-Fi</title>\n"
             "<style>body { margin: 0; padding: 0 } .box { color: #333; }</style></head>\n"
             "<body><form action=\"/login?next=http://x/&amp;y=1\" method=\"post\">"
             "<input name=\"user\"></form>&nbsp;&copy; 2024 Hotel</body></html>\n");

  std::vector<std::wstring> classPath = Sync();

  // No folder and no file from the page's pieces; only a piece that could be a plain file
  // name is asked for (in vain).
  EXPECT_TRUE(WorkingFiles().empty());
  EXPECT_TRUE(WorkingFolders().empty());
  EXPECT_EQ(classPath, InWork({L"&copy"}));
  EXPECT_EQ(Requests(), (Lines{folder + "app/libs.txt", Lib("%26copy"), Lib("%26copy"), Lib("%26copy")}));
}

TEST_F(Libs, NamesWithSpacesAndOtherCharactersArePercentEncodedAndStoredAsNamed) {
  // Each entry in UTF-8 as libs.txt holds it, and the path the server must be asked for.
  const struct {
    std::string entry;
    std::string requested;
  } cases[] = {
      {"lib/\xE5\xBA\x93.jar", "lib/%E5%BA%93.jar"},
      {"lib/\xC3\xA9t\xC3\xA9.jar", "lib/%C3%A9t%C3%A9.jar"},
      {"lib/a b.jar", "lib/a%20b.jar"},
      {"lib/100%.jar", "lib/100%25.jar"},
      {"lib/x#1.jar", "lib/x%231.jar"},
      {"\xE6\x96\x87\xE4\xBB\xB6/a+b.jar", "%E6%96%87%E4%BB%B6/a%2Bb.jar"},
  };
  std::string list = "\xEF\xBB\xBF";  // saved by Notepad
  std::vector<std::wstring> entries;
  Lines requests{folder + "app/libs.txt"}, files;
  for (const auto& c : cases) {
    list += c.entry + ";";
    entries.push_back(base::Utf8ToWide(c.entry));
    PutLib(c.entry, Jar(c.entry));
    requests.push_back(Lib(c.requested));
    files.push_back(c.entry);
  }
  std::sort(files.begin(), files.end());
  server.Put(folder + "app/libs.txt", list);

  std::vector<std::wstring> classPath = Sync();

  EXPECT_EQ(Requests(), requests);
  EXPECT_EQ(WorkingFiles(), files);
  for (const auto& c : cases)
    EXPECT_EQ(ReadBytes(FileOf(c.entry)), Jar(c.entry)) << c.entry;
  EXPECT_EQ(classPath, InWork(entries));
  Lines log = LogLines();
  const std::wstring base = Url("install/runtime/");
  for (size_t i = 0; i < std::size(cases); ++i) {
    std::wstring line = L"download file " + entries[i] + L", from " + base + base::Utf8ToWide(cases[i].requested);
    EXPECT_EQ(std::count(log.begin(), log.end(), Ansi(line)), 1) << cases[i].entry;
  }
  // Present under their own names: the next start asks for the list alone.
  EXPECT_EQ(Sync(), classPath);
  EXPECT_EQ(Requests().size(), requests.size() + 1);
}

TEST_F(Libs, AListInTheAnsiCodePageNamesItsLibrariesToo) {
  // "lib/库.jar" in GBK, as Notepad on a Chinese Windows saves it by default.
  const std::string gbk = "lib/\xBF\xE2.jar";
  if (platform::WideToAnsi(L"\x5E93") != "\xBF\xE2")
    GTEST_SKIP() << "the ANSI code page here is not GBK (on Linux it is UTF-8, which the list is then)";
  server.Put(folder + "app/libs.txt", gbk);
  PutLib("lib/\xE5\xBA\x93.jar", Jar("gbk"));

  std::vector<std::wstring> classPath = Sync();

  EXPECT_EQ(classPath, InWork({L"lib/\x5E93.jar"}));
  EXPECT_EQ(Requests(), (Lines{folder + "app/libs.txt", Lib("lib/%E5%BA%93.jar")}));
  EXPECT_EQ(ReadBytes(FileOf("lib/\xE5\xBA\x93.jar")), Jar("gbk"));
}

// Libraries go to the disk as they arrive: ones far larger than the limit of the small
// text files are stored whole.
TEST_F(Libs, LargeLibrariesAreStoredWhole) {
  const std::string jar = Jar(BinaryBody(3 * 1024 * 1024, 7));
  const std::string natives = BinaryBody(1536 * 1024, 8);
  server.Put(folder + "app/libs.txt", "lib/large.jar;lib/natives.so");
  PutLib("lib/large.jar", jar);
  PutLib("lib/natives.so", natives);

  EXPECT_EQ(Sync(), InWork({L"lib/large.jar", L"lib/natives.so"}));

  EXPECT_EQ(Requests(), (Lines{folder + "app/libs.txt", Lib("lib/large.jar"), Lib("lib/natives.so")}));
  EXPECT_EQ(WorkingFiles(), (Lines{"lib/large.jar", "lib/natives.so"}));
  // Compared without EXPECT_EQ, which would print megabytes on a failure.
  EXPECT_TRUE(ReadBytes(work / "lib" / "large.jar") == jar);
  EXPECT_TRUE(ReadBytes(work / "lib" / "natives.so") == natives);
  Lines log = LogLines();
  const std::string base = Narrow(Url("install/runtime/"));
  for (const std::string entry : {"lib/large.jar", "lib/natives.so"})
    EXPECT_EQ(std::count(log.begin(), log.end(), "download file " + entry + ", from " + base + entry), 1) << entry;
  EXPECT_EQ(std::count(log.begin(), log.end(), "http complete, len = " + std::to_string(jar.size())), 1);
}

}  // namespace
