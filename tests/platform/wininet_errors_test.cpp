// WinINet's failures as log text, run under Wine. A program of its own: it must meet the
// test server's certificate untrusted, and the HTTP tests trust it (Wine reads the root
// store once per process).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/http.h"
#include "support/http_server.h"

namespace {

class NoBody : public platform::HttpSink {
 public:
  bool Append(const void*, std::size_t, platform::Error*) override { return true; }
};

TEST(WinInetErrors, NamedWhereTheSystemHasNoText) {
  auto& server = testing_support::TestHttpServer::Get();
  if (server.TlsUrl("/").empty()) GTEST_SKIP() << "the test server has no HTTPS port (openssl missing)";
  std::string folder = testing_support::UniqueServerFolder();
  server.Put(folder + "secret.txt", "never sent");
  NoBody sink;
  platform::Error err;
  // Self-signed and trusted by nobody. Wine's FormatMessage has no text for this code:
  // without its name the log line would read "error 12045".
  EXPECT_FALSE(platform::HttpGet(server.TlsLocalhostUrl(folder + "secret.txt"), sink, &err));
  EXPECT_EQ(err.code, 12045u);
  EXPECT_EQ(err.message, L"ERROR_INTERNET_INVALID_CA (12045)");
  EXPECT_TRUE(server.Requests(folder).empty());
}

TEST(WinInetErrors, TheSystemsOwnTextWhereItHasOne) {
  // Wine knows these two (in the Chinese of the test run's code page).
  struct Case {
    const wchar_t* url;
    std::uint32_t code;
  };
  const Case cases[] = {
      {L"http://127.0.0.1:1/x", 12029},  // nothing listens: ERROR_INTERNET_CANNOT_CONNECT
      {L"ftp://127.0.0.1/x", 12006},     // ERROR_INTERNET_UNRECOGNIZED_SCHEME
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    NoBody sink;
    platform::Error err;
    EXPECT_FALSE(platform::HttpGet(c.url, sink, &err));
    EXPECT_EQ(err.code, c.code);
    std::wstring suffix = L" (" + std::to_wstring(c.code) + L")";
    ASSERT_GT(err.message.size(), suffix.size());
    EXPECT_EQ(err.message.substr(err.message.size() - suffix.size()), suffix);
    EXPECT_EQ(err.message.find(L"ERROR_"), std::wstring::npos) << "a name where the system has text";
  }
}

}  // namespace
