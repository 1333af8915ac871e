// HTTP fetch against the suite's own server on 127.0.0.1: WinINet in the Windows build
// (run under Wine), libcurl in the Linux build.
#include "update/fetch_buffer.h"

#include <cstring>
#include <chrono>
#include <filesystem>
#include <thread>

#include "http_case.h"

using Lines = std::vector<std::string>;

namespace {

class Fetch : public HttpCase {
 protected:
  // The buffer holds `bytes` exactly, followed by a zero byte.
  static void ExpectBody(const FetchBuffer& buffer, const std::string& bytes) {
    ASSERT_NE(buffer.data, nullptr);
    ASSERT_EQ(buffer.length, bytes.size());
    EXPECT_EQ(std::memcmp(buffer.data.get(), bytes.data(), bytes.size()), 0);
    EXPECT_EQ(buffer.data[buffer.length], 0);
  }
};

TEST_F(Fetch, WholeBodyArrivesWhateverItsFramingAndCostsOneRequest) {
  const std::string body = BinaryBody(300 * 1024 + 7);
  server.Put(folder + "target.bin", body);
  struct Case {
    const char* name;
    std::string directives;
  };
  const Case cases[] = {
      {"plain.bin", ""},
      {"chunked.bin", "chunked"},
      {"close.bin", "close"},
      {"moved.bin", "redirect " + Narrow(Url("target.bin"))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = folder + "cases/" + c.name;
    server.Put(path, body);
    server.Behave(path, c.directives);
    FetchBuffer buffer;
    ASSERT_TRUE(buffer.FetchOnce(server.Url(path)));
    ExpectBody(buffer, body);
    // One GET per attempt.
    EXPECT_EQ(server.Requests(path), Lines{path});
  }
  EXPECT_EQ(server.Requests(folder + "target.bin").size(), 1u);
  // One line before and one after each attempt, nothing else.
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2 * std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(lines[2 * i], "start get url: " + Narrow(Url(std::string("cases/") + cases[i].name)));
    EXPECT_EQ(lines[2 * i + 1], "http complete, len = " + std::to_string(body.size()));
  }
}

TEST_F(Fetch, EmptyBodyIsABody) {
  server.Put(folder + "empty.txt", "");
  FetchBuffer buffer;
  ASSERT_TRUE(buffer.FetchOnce(Url("empty.txt")));
  ExpectBody(buffer, "");
  EXPECT_EQ(buffer.AsText(), L"");
  EXPECT_EQ(LogLines(), (Lines{"start get url: " + Narrow(Url("empty.txt")), "http complete, len = 0"}));
}

TEST_F(Fetch, OnlyA200AnswerIsABody) {
  // Whatever else comes back, with or without a body, is not the file: a redirect that
  // says nowhere, a part nobody asked for, "no content", "not modified".
  struct Case {
    const char* name;
    const char* directives;
    unsigned status;
  };
  const Case cases[] = {
      {"no-content", "status 204", 204},
      {"partial", "status 206", 206},
      {"odd-success", "status 299", 299},
      {"moved-nowhere", "redirect_no_location", 302},
      {"not-modified", "status 304", 304},
      {"odd-redirect", "status 399", 399},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FetchBuffer buffer;
    server.Put(folder + "previous.txt", "previous body");
    ASSERT_TRUE(buffer.FetchOnce(Url("previous.txt")));
    std::string path = folder + c.name;
    server.Put(path, "the file itself");
    server.Behave(path, c.directives);
    std::wstring url = server.Url(path);
    EXPECT_FALSE(buffer.FetchOnce(url));
    ExpectBody(buffer, "previous body");
    EXPECT_EQ(server.Requests(path).size(), 1u);
    EXPECT_EQ(LogLines().back(), "invalid http statue: " + std::to_string(c.status) + " from:" + Narrow(url));
  }
}

TEST_F(Fetch, BodiesUpToTheCapArriveWhateverTheirFraming) {
  const std::string body = BinaryBody(FetchBuffer::kMaxLength, 3);
  for (const char* directives : {"", "close", "chunked"}) {
    SCOPED_TRACE(directives);
    std::string path = folder + "full-" + std::to_string(std::strlen(directives)) + ".bin";
    server.Put(path, body);
    server.Behave(path, directives);
    FetchBuffer buffer;
    ASSERT_TRUE(buffer.FetchOnce(server.Url(path)));
    ExpectBody(buffer, body);
  }
}

TEST_F(Fetch, BodyPastTheCapFailsBeforeItFillsTheMemory) {
  const std::string body = BinaryBody(FetchBuffer::kMaxLength + 1, 4);
  const std::string cap = std::to_string(FetchBuffer::kMaxLength);
  struct Case {
    const char* name;
    const char* directives;
    std::string message;  // the exception line after "exception:"
  };
  const Case cases[] = {
      // Announced: turned down before anything is held.
      {"announced", "", "Content-Length " + std::to_string(body.size()) + " is more than " + cap + " bytes"},
      // Not announced: read no further than the cap.
      {"close-delimited", "close", "response body larger than " + cap + " bytes"},
      {"chunked", "chunked", "response body larger than " + cap + " bytes"},
      // A body that never ends ends the attempt at the cap, not at a time-out.
      {"endless", "endless", "response body larger than " + cap + " bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = folder + c.name;
    server.Put(path, body);
    server.Behave(path, c.directives);
    FetchBuffer buffer;
    EXPECT_FALSE(buffer.FetchOnce(server.Url(path)));
    EXPECT_EQ(buffer.data, nullptr);
    std::string last = LogLines().back();
    EXPECT_EQ(last.rfind("exception:", 0), 0u) << last;
    EXPECT_NE(last.find(c.message), std::string::npos) << last;
  }
}

TEST_F(Fetch, TricklingServerEndsTheAttemptAtTheLaunchersDeadline) {
  // 2000 bytes a second: above the rate floor, and never silent, yet this small file would
  // take almost a minute. The launcher's own deadline ends the attempt.
  server.Put(folder + "slow.txt", BinaryBody(100000, 5));
  server.Behave(folder + "slow.txt", "drip 2000");
  FetchBuffer buffer;
  EXPECT_FALSE(buffer.FetchOnce(Url("slow.txt")));
  EXPECT_EQ(buffer.data, nullptr);
  std::string last = LogLines().back();
  EXPECT_EQ(last.rfind("exception:", 0), 0u) << last;
  EXPECT_NE(last.find("not finished within " + std::to_string(FetchBuffer::kDeadlineMs) + " ms"), std::string::npos)
      << last;
}

TEST_F(Fetch, FailedAttemptLeavesThePreviousBodyAndLogsWhy) {
  const std::string body = BinaryBody(200 * 1024, 7);
  server.Put(folder + "previous.txt", "previous body");
  struct Case {
    const char* name;
    const char* directives;
    const char* logStart;  // of the attempt's last line; %s is the URL
  };
  const Case cases[] = {
      {"missing", "status 404", "invalid http statue: 404 from:%s"},
      {"bad", "status 400", "invalid http statue: 400 from:%s"},
      {"broken", "status 500", "invalid http statue: 500 from:%s"},
      // Cut short: never a success with the missing bytes left as zeros.
      {"truncated", "truncate 1000", "exception:"},
      // More than a body may be: turned down before anything is held.
      {"huge", "length 5000000000", "exception:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FetchBuffer buffer;
    ASSERT_TRUE(buffer.FetchOnce(Url("previous.txt")));
    std::string path = folder + c.name;
    server.Put(path, body);
    server.Behave(path, c.directives);
    std::wstring url = server.Url(path);
    EXPECT_FALSE(buffer.FetchOnce(url));
    ExpectBody(buffer, "previous body");
    EXPECT_EQ(server.Requests(path).size(), 1u);
    auto lines = LogLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "start get url: " + Narrow(url));
    std::string expected = c.logStart;
    if (size_t at = expected.find("%s"); at != std::string::npos) expected.replace(at, 2, Narrow(url));
    if (expected == "exception:") {
      EXPECT_EQ(lines.back().rfind(expected, 0), 0u) << lines.back();
      EXPECT_GT(lines.back().size(), expected.size()) << "the platform's message is missing";
    } else {
      EXPECT_EQ(lines.back(), expected);
    }
  }
}

TEST_F(Fetch, UrlsThatCannotBeFetchedFailWithTheClientsMessage) {
  const std::wstring urls[] = {
      L"http://127.0.0.1:1/refused.txt",  // nothing listens on port 1
      L"not a url",
      L"",
      L"ftp://127.0.0.1/file.txt",
  };
  for (const std::wstring& url : urls) {
    SCOPED_TRACE(Narrow(url));
    theLog.StartAt((work / "t.log").wstring());
    FetchBuffer buffer;
    EXPECT_FALSE(buffer.FetchOnce(url));
    EXPECT_EQ(buffer.data, nullptr);
    EXPECT_EQ(buffer.length, 0u);
    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "start get url: " + Narrow(url));
    EXPECT_EQ(lines[1].rfind("exception:", 0), 0u) << lines[1];
    EXPECT_GT(lines[1].size(), std::strlen("exception:"));
  }
}

TEST_F(Fetch, RetriesUpToThreeAttemptsInARow) {
  server.Put(folder + "flaky.txt", "third time lucky");
  server.Behave(folder + "flaky.txt", "status 503\ntimes 2");
  server.Put(folder + "gone.txt", "never served");
  server.Behave(folder + "gone.txt", "status 404");

  FetchBuffer buffer;
  ASSERT_TRUE(buffer.Fetch(Url("flaky.txt")));
  ExpectBody(buffer, "third time lucky");
  EXPECT_FALSE(buffer.Fetch(Url("gone.txt")));
  ExpectBody(buffer, "third time lucky");

  EXPECT_EQ(server.Requests(folder + "flaky.txt").size(), 3u);
  EXPECT_EQ(server.Requests(folder + "gone.txt").size(), 3u);
  const std::string flaky = Narrow(Url("flaky.txt")), gone = Narrow(Url("gone.txt"));
  EXPECT_EQ(LogLines(),
            (Lines{"start get url: " + flaky, "invalid http statue: 503 from:" + flaky,
                          "start get url: " + flaky, "invalid http statue: 503 from:" + flaky,
                          "start get url: " + flaky, "http complete, len = 16",
                          "start get url: " + gone, "invalid http statue: 404 from:" + gone,
                          "start get url: " + gone, "invalid http statue: 404 from:" + gone,
                          "start get url: " + gone, "invalid http statue: 404 from:" + gone}));
}

TEST_F(Fetch, RefetchReplacesTheBody) {
  server.Put(folder + "a.txt", std::string(5000, 'a'));
  server.Put(folder + "b.txt", "b");
  FetchBuffer buffer;
  ASSERT_TRUE(buffer.Fetch(Url("a.txt")));
  ASSERT_TRUE(buffer.Fetch(Url("b.txt")));
  ExpectBody(buffer, "b");
}

TEST_F(Fetch, TextIsEachByteWidenedUpToTheFirstZero) {
  server.Put(folder + "text.bin", std::string("ab\xC4\0cd", 6));
  FetchBuffer buffer;
  EXPECT_EQ(buffer.AsText(), L"");
  ASSERT_TRUE(buffer.FetchOnce(Url("text.bin")));
  EXPECT_EQ(buffer.length, 6u);
  EXPECT_EQ(buffer.AsText(), std::wstring(L"ab\u00C4"));
}

TEST_F(Fetch, UserAgentIsTheProgramsNameWithoutExtension) {
  server.Put(folder + "ua.txt", "x");
  FetchBuffer buffer;
  ASSERT_TRUE(buffer.FetchOnce(Url("ua.txt")));
  std::string stem = std::filesystem::path(platform::ExecutablePath()).stem().string();
  EXPECT_EQ(server.UserAgents(folder), Lines{stem});
}

TEST_F(Fetch, SilentServerEndsTheAttempt) {
  // Short time-outs here; the next test holds the launcher's own.
  server.Put(folder + "quiet.bin", BinaryBody(100000));
  server.Behave(folder + "quiet.bin", "stall_headers 60");
  server.Put(folder + "halted.bin", BinaryBody(100000));
  server.Behave(folder + "halted.bin", "stall_body 60");
  for (const char* name : {"quiet.bin", "halted.bin"}) {
    SCOPED_TRACE(name);
    FetchBuffer buffer;
    buffer.options.timeouts.idleMs = 1000;
    EXPECT_FALSE(buffer.FetchOnce(Url(name)));
    EXPECT_EQ(buffer.data, nullptr);
    EXPECT_EQ(LogLines().back().rfind("exception:", 0), 0u) << LogLines().back();
  }
}

TEST_F(Fetch, SilentServerEndsTheAttemptWithTheLaunchersOwnTimeouts) {
  // Wine drops time-outs set on the WinINet session alone; without those on the
  // connection this attempt would never end.
  server.Put(folder + "quiet.bin", "x");
  server.Behave(folder + "quiet.bin", "stall_headers 120");
  FetchBuffer buffer;
  EXPECT_FALSE(buffer.FetchOnce(Url("quiet.bin")));
  EXPECT_EQ(LogLines().back().rfind("exception:", 0), 0u) << LogLines().back();
}

TEST_F(Fetch, HttpsChecksTheServersCertificate) {
  std::wstring url = server.TlsUrl(folder + "secret.txt");
  if (url.empty()) GTEST_SKIP() << "the test server has no HTTPS port (openssl missing)";
  server.Put(folder + "secret.txt", "must not arrive");
  size_t before = server.Requests("handshake").size();
  FetchBuffer buffer;
  // The certificate is self-signed: the client must speak TLS to the server and then
  // refuse it, before any request goes out.
  EXPECT_FALSE(buffer.FetchOnce(url));
  EXPECT_EQ(buffer.data, nullptr);
  EXPECT_TRUE(server.Requests(folder).empty());
  // The server logs the broken-off handshake on its own thread, possibly just after the
  // client has given up: wait for that line a little.
  for (int i = 0; i < 100 && server.Requests("handshake").size() <= before; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_GT(server.Requests("handshake").size(), before) << LogLines().back();
  EXPECT_EQ(LogLines().back().rfind("exception:", 0), 0u) << LogLines().back();
}

}  // namespace
