// The web server that tests/support/with-http-server runs beside a test program: how a
// test puts files on it, changes how it answers and reads which requests it received.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

class TestHttpServer {
 public:
  // The server of this test program; the test fails when the program was started
  // without one (run it through with-http-server).
  static TestHttpServer& Get();

  bool Available() const { return port_ != 0; }
  // "http://127.0.0.1:<port>" followed by the path, which starts with '/'.
  std::wstring Url(const std::string& path) const;
  // The same on the HTTPS port, whose certificate is self-signed; empty when the server
  // has no HTTPS port.
  std::wstring TlsUrl(const std::string& path) const;

  // Serves `bytes` at the path (e.g. "/case/app/update.txt").
  void Put(const std::string& path, const std::string& bytes) const;
  void Remove(const std::string& path) const;
  // Directives for the path, one per line (see http_server.py): "status 404", "truncate
  // 10", "chunked", "close", "length N", "redirect URL", "stall_headers S", "stall_body S",
  // "hold", "times K". An empty text restores plain serving.
  void Behave(const std::string& path, const std::string& directives) const;
  // Ends a "hold": the held response is closed.
  void Release(const std::string& path) const;

  // Paths of the requests received so far that start with the prefix, in order.
  std::vector<std::string> Requests(const std::string& prefix) const;
  // The User-Agent of each of those requests.
  std::vector<std::string> UserAgents(const std::string& prefix) const;

 private:
  TestHttpServer();
  std::filesystem::path Local(const std::string& path) const;
  // (path, user agent) of each request under the prefix.
  std::vector<std::pair<std::string, std::string>> Log(const std::string& prefix) const;

  unsigned port_ = 0;
  unsigned tlsPort_ = 0;
  std::filesystem::path root_;
  std::filesystem::path log_;
};

// A prefix such as "/Fetch.Redirects-3/" unique to the running test and this process.
std::string UniqueServerFolder();

}  // namespace testing_support
