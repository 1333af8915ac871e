// Streamed downloads against the suite's own server on 127.0.0.1 (WinINet under Wine,
// libcurl on Linux): bytes to the disk as they arrive, both digests on the way, and
// downloads that go on from the bytes an earlier attempt or run left.
#include "update/download.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "http_case.h"
#include "platform/atomic_file.h"
#include "platform/crypto.h"
#include "update/md5_checksum.h"
#include "update/package.h"

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::WriteBytes;
using Lines = std::vector<std::string>;
using Starts = std::vector<std::int64_t>;

namespace {

std::wstring Md5Of(const std::string& bytes) { return CMD5Checksum::GetMD5(bytes.data(), bytes.size()); }

class Download : public HttpCase {
 protected:
  fs::path Partial() const { return work / "file.part"; }

  // What the package's download does: only the file with this MD5 passes.
  static DownloadOptions Expecting(const std::string& bytes) {
    DownloadOptions options;
    options.verify = [md5 = Md5Of(bytes)](const DownloadedFile& file) {
      if (file.md5 == md5) return true;
      theLog.Write(L"md5 mismatch: %s", file.md5);
      return false;
    };
    return options;
  }

  // The file holds exactly `bytes`, and the result says so with both digests.
  static void ExpectFile(const std::optional<DownloadedFile>& got, const std::string& bytes) {
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(ReadBytes(fs::path(got->path)), bytes);
    EXPECT_EQ(got->length, static_cast<std::int64_t>(bytes.size()));
    EXPECT_EQ(got->md5, Md5Of(bytes));
    EXPECT_TRUE(got->sha256Ok);
    EXPECT_EQ(got->sha256, platform::Sha256::Of(bytes.data(), bytes.size()));
  }

  std::string Serve(const std::string& name, const std::string& bytes, const std::string& directives = "") {
    server.Put(folder + name, bytes);
    server.Behave(folder + name, directives);
    return folder + name;
  }

  Starts RangeStarts(const std::string& name) const { return server.RangeStarts(folder + name); }

  bool Logged(const std::string& line) const {
    Lines lines = LogLines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  Lines FilesInWork() const {
    Lines names;
    for (auto& e : fs::directory_iterator(work.Path()))
      if (e.path().filename() != "t.log") names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(Download, WholeFileGoesToTheDiskWithBothDigestsWhateverItsFraming) {
  // More than the few fixed buffers between the network and the disk.
  const std::string body = BinaryBody(5 * 1024 * 1024 + 77, 1);
  Serve("target.bin", body);
  struct Case {
    const char* name;
    std::string directives;
  };
  const Case cases[] = {
      {"plain.bin", ""},
      {"chunked.bin", "chunked"},
      {"close.bin", "close"},
      {"moved.bin", "redirect " + Narrow(Url("target.bin"))},
      {"empty.bin", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string bytes = std::string(c.name) == "empty.bin" ? std::string() : body;
    Serve(c.name, bytes, c.directives);
    fs::remove(Partial());
    theLog.StartAt((work / "t.log").wstring());

    std::optional<DownloadedFile> got = DownloadResumable(Url(c.name), Partial().wstring(), Expecting(bytes));

    ExpectFile(got, bytes);
    EXPECT_EQ(got->path, Partial().wstring());
    EXPECT_EQ(RangeStarts(c.name), Starts{-1});
    EXPECT_EQ(LogLines(), (Lines{"start get url: " + Narrow(Url(c.name)),
                                 "http complete, len = " + std::to_string(bytes.size())}));
  }
}

TEST_F(Download, BrokenOffTransferGoesOnFromTheBytesOnDisk) {
  const std::string body = BinaryBody(1024 * 1024, 2);
  const std::int64_t cut = static_cast<std::int64_t>(body.size() * 2 / 5);
  struct Case {
    const char* name;
    std::string directives;
    std::int64_t resumeAt;
    platform::HttpTimeouts timeouts;
  };
  std::vector<Case> cases = {
      {"dropped.bin", "drop_after " + std::to_string(cut) + "\ntimes 1", cut, {}},
      // Half the body, then silence until the idle time-out.
      {"stalled.bin", "stall_body 60\ntimes 1", static_cast<std::int64_t>(body.size() / 2), {5000, 3000}},
  };
  // WinINet ends a cut chunked body as if it were whole: there the MD5 catches it instead.
  if (platform::HttpSeesCutChunkedBody())
    cases.push_back({"chunked.bin", "chunked\ndrop_after " + std::to_string(cut) + "\ntimes 1", cut, {}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Serve(c.name, body, c.directives);
    fs::remove(Partial());
    theLog.StartAt((work / "t.log").wstring());
    DownloadOptions options = Expecting(body);
    options.http.timeouts = c.timeouts;

    std::optional<DownloadedFile> got = DownloadResumable(Url(c.name), Partial().wstring(), options);

    ExpectFile(got, body);
    // The second attempt asked for the bytes after those on disk, and got only those.
    EXPECT_EQ(RangeStarts(c.name), (Starts{-1, c.resumeAt}));
    const std::string url = Narrow(Url(c.name));
    Lines lines = LogLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "start get url: " + url);
    EXPECT_EQ(lines[1].rfind("exception:", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2], "start get url: " + url);
    EXPECT_EQ(lines[3], "resume download from " + std::to_string(c.resumeAt) + ": " + url);
    EXPECT_EQ(lines[4], "http complete, len = " + std::to_string(body.size()));
  }
}

TEST_F(Download, BytesOnDiskAreHashedOnceAndCountInTheProgress) {
  const std::string body = BinaryBody(3 * 1024 * 1024, 3);
  const size_t held = body.size() * 2 / 5;
  Serve("file.bin", body);
  WriteBytes(Partial(), body.substr(0, held));
  std::vector<std::pair<std::int64_t, std::int64_t>> seen;
  DownloadOptions options = Expecting(body);
  options.onProgress = [&](std::int64_t got, std::int64_t total) { seen.emplace_back(got, total); };

  std::optional<DownloadedFile> got = DownloadResumable(Url("file.bin"), Partial().wstring(), options);

  // The digests cover the bytes that were on disk as well as those that came.
  ExpectFile(got, body);
  EXPECT_EQ(RangeStarts("file.bin"), Starts{static_cast<std::int64_t>(held)});
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen.front().first, static_cast<std::int64_t>(held));
  EXPECT_EQ(seen.back().first, static_cast<std::int64_t>(body.size()));
  for (size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].second, static_cast<std::int64_t>(body.size()));
    if (i > 0) {
      EXPECT_GE(seen[i].first, seen[i - 1].first);
    }
  }
}

TEST_F(Download, BytesOnDiskThatLeadNowhereCostAtMostOneWholeDownload) {
  const std::string body = BinaryBody(600 * 1000, 4);
  const std::int64_t size = static_cast<std::int64_t>(body.size());
  const std::int64_t part = size * 2 / 5;
  std::string wrong = body;
  for (size_t i = 1000; i < wrong.size(); i += 4096) wrong[i] = static_cast<char>(~wrong[i]);
  struct Case {
    const char* name;
    std::string onDisk;
    std::string directives;
    Starts starts;
    bool restartLogged;  // "restart download from 0" in t.log
  };
  const Case cases[] = {
      // The bytes on disk are right: only the rest is sent, or nothing.
      {"right start", body.substr(0, static_cast<size_t>(part)), "", {part}, false},
      {"right whole", body, "", {size}, false},
      // The server sends the whole file instead of the rest: read from its first byte.
      {"range ignored", body.substr(0, static_cast<size_t>(part)), "ignore_range", {part}, true},
      // A range other than the one asked for: asked again, for the whole file.
      {"inconsistent range", body.substr(0, static_cast<size_t>(part)), "bad_content_range", {part, -1}, true},
      // Wrong bytes: continued, found wrong by the MD5, then fetched whole by the next attempt.
      {"wrong start", wrong.substr(0, static_cast<size_t>(part)), "", {part, -1}, false},
      // Wrong bytes of the full length: nothing is left to send, so asked again at once.
      {"wrong whole", wrong, "", {size, -1}, true},
      // More bytes than the file has: no range fits them.
      {"too long", body + "tail", "", {size + 4, -1}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string name;
    for (const char* p = c.name; *p; ++p) name += *p == ' ' ? '-' : *p;
    name += ".bin";
    Serve(name, body, c.directives);
    WriteBytes(Partial(), c.onDisk);
    theLog.StartAt((work / "t.log").wstring());

    std::optional<DownloadedFile> got = DownloadResumable(Url(name), Partial().wstring(), Expecting(body));

    ExpectFile(got, body);
    EXPECT_EQ(RangeStarts(name), c.starts);
    EXPECT_EQ(Logged("restart download from 0: " + Narrow(Url(name))), c.restartLogged);
  }
}

TEST_F(Download, FailedAttemptsKeepWhatArrivedAndLeaveNoEmptyFile) {
  const std::string body = BinaryBody(200000, 5);
  Serve("cut.bin", body, "truncate 50000");
  std::optional<DownloadedFile> got = DownloadResumable(Url("cut.bin"), Partial().wstring(), Expecting(body));
  EXPECT_FALSE(got.has_value());
  // Three attempts, each a quarter of the file further, and those bytes kept for later.
  EXPECT_EQ(RangeStarts("cut.bin"), (Starts{-1, 50000, 100000}));
  EXPECT_EQ(ReadBytes(Partial()), body.substr(0, 150000));

  Serve("missing.bin", body, "status 404");
  got = DownloadResumable(Url("missing.bin"), (work / "missing.part").wstring(), Expecting(body));
  EXPECT_FALSE(got.has_value());
  EXPECT_EQ(FilesInWork(), Lines{"file.part"});
  EXPECT_TRUE(Logged("invalid http statue: 404 from:" + Narrow(Url("missing.bin"))));
}

TEST_F(Download, PackageOnAServerThatTricklesFailsItsAttemptAtTheRateFloor) {
  // Ten bytes a tenth of a second: never silent, so no idle time-out ends it, but far
  // below the launcher's rate floor. No whole-request deadline applies to a package; the
  // floor ends the attempt, and the next one goes on from the bytes that came.
  const std::string body = BinaryBody(400000, 6);
  Serve("slow.pak", body, "drip 100\ntimes 1");
  std::optional<DownloadedFile> got = FetchPackage(Url("slow.pak"), work.WPath(), Md5Of(body));
  ExpectFile(got, body);
  Starts starts = RangeStarts("slow.pak");
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts[0], -1);
  EXPECT_GT(starts[1], 0);
  Lines lines = LogLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1].rfind("exception:", 0), 0u) << lines[1];
  EXPECT_NE(lines[1].find("too slow"), std::string::npos) << lines[1];
}

TEST_F(Download, WhileAnotherProcessContinuesThePartialFileThisOneFetchesItsOwnCopy) {
  const std::string body = BinaryBody(300000, 7);
  Serve("shared.bin", body);
  const std::string before = body.substr(0, 1000);
  WriteBytes(Partial(), before);
  std::optional<DownloadedFile> got;
  {
    // As another launcher of the same installation holds it while it downloads.
    platform::File other;
    ASSERT_TRUE(other.Open(Partial().wstring(), platform::OpenMode::kReadWriteKeepLocked));
    got = DownloadResumable(Url("shared.bin"), Partial().wstring(), Expecting(body));
  }
  ExpectFile(got, body);
  EXPECT_NE(got->path, Partial().wstring());
  EXPECT_EQ(ReadBytes(Partial()), before);
  EXPECT_EQ(RangeStarts("shared.bin"), Starts{-1});
  ASSERT_TRUE(PutInPlace(*got, (work / "main.jar").wstring()));
  EXPECT_EQ(FilesInWork(), (Lines{"file.part", "main.jar"}));
}

// A body beyond what a download may take, endless (plain or chunked) or announced beyond
// the bound or into the disk's last reserve: the download stops at once, makes no further
// attempt and keeps nothing, neither a partial file for a later run nor a temporary one.
// The reserve is the real disk's: a length between its free space and its reserve is
// refused by the reserve alone.
TEST_F(Download, ABodyBeyondItsBoundEndsTheDownloadAndKeepsNothing) {
  constexpr std::int64_t kCap = 1024 * 1024;
  std::int64_t available = 0, total = 0;
  ASSERT_TRUE(platform::VolumeSpace(work.WPath(), &available, &total));
  const std::int64_t reserve = DiskReserve(total);
  EXPECT_EQ(reserve, std::min<std::int64_t>(total / 20, 256 * 1024 * 1024));
  const std::int64_t intoReserve = available - reserve / 4;
  struct Case {
    const char* name;
    std::string directives;
    std::int64_t maxBytes;
  };
  const Case cases[] = {
      {"endless", "endless", kCap},
      {"endless, chunked", "endless\nchunked", kCap},
      {"announced beyond the bound", "length " + std::to_string(kCap + 1), kCap},
      {"announced into the disk's reserve", "length " + std::to_string(intoReserve), 0},
  };
  for (bool resumable : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (resumable ? ", resumable" : ", beside"));
      std::string name = std::string(resumable ? "r-" : "b-") + std::to_string(&c - cases);
      Serve(name, BinaryBody(5000, 9), c.directives);
      theLog.StartAt((work / "t.log").wstring());
      DownloadOptions options;
      options.maxBytes = c.maxBytes;
      auto start = std::chrono::steady_clock::now();
      std::optional<DownloadedFile> got =
          resumable ? DownloadResumable(Url(name), Partial().wstring(), options)
                    : DownloadBeside(Url(name), (work / "lib.jar").wstring(), options);
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
      EXPECT_FALSE(got.has_value());
      EXPECT_EQ(server.Requests(folder + name).size(), 1u) << "no second attempt";
      EXPECT_EQ(FilesInWork(), Lines{});
      Lines lines = LogLines();
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines.back().rfind("exception:the file is larger than ", 0), 0u) << lines.back();
    }
  }
  // Up to the bound, a file arrives.
  const std::string body = BinaryBody(5000, 10);
  Serve("fits.bin", body);
  DownloadOptions options = Expecting(body);
  options.maxBytes = static_cast<std::int64_t>(body.size());
  ExpectFile(DownloadResumable(Url("fits.bin"), Partial().wstring(), options), body);
}

TEST_F(Download, DownloadBesideLeavesOnlyTheFileItReturns) {
  const std::string body = BinaryBody(250000, 8);
  const fs::path target = work / "lib.jar";
  WriteBytes(target, "old library");
  // Left by a run that was killed: its process is long gone.
  WriteBytes(work / "lib.jar.part-4000000000-0", "half");
  Serve("lib.jar", body);

  std::optional<DownloadedFile> got = DownloadBeside(Url("lib.jar"), target.wstring(), Expecting(body));
  ExpectFile(got, body);
  EXPECT_EQ(fs::path(got->path).parent_path(), work.Path());
  EXPECT_EQ(ReadBytes(target), "old library");
  platform::Error err;
  ASSERT_TRUE(PutInPlace(*got, target.wstring(), &err)) << Narrow(err.message);
  EXPECT_EQ(ReadBytes(target), body);
  EXPECT_EQ(FilesInWork(), Lines{"lib.jar"});

  // Refused by its check, or never whole: nothing stays behind, the old file is untouched.
  got = DownloadBeside(Url("lib.jar"), target.wstring(), Expecting("other bytes"));
  EXPECT_FALSE(got.has_value());
  Serve("gone.jar", body, "status 206");
  got = DownloadBeside(Url("gone.jar"), target.wstring());
  EXPECT_FALSE(got.has_value());
  EXPECT_EQ(server.Requests(folder + "lib.jar").size(), 4u);
  EXPECT_EQ(server.Requests(folder + "gone.jar").size(), 3u);
  EXPECT_EQ(FilesInWork(), Lines{"lib.jar"});
  EXPECT_EQ(ReadBytes(target), body);

  got = DownloadBeside(Url("lib.jar"), target.wstring());
  ASSERT_TRUE(got.has_value());
  Discard(*got);
  EXPECT_EQ(FilesInWork(), Lines{"lib.jar"});
}

}  // namespace
