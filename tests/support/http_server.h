// The web server that tests/support/with-http-server runs beside a test program: how a
// test puts files on it, changes how it answers and reads which requests it received.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
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
  // The same as "https://localhost:<port>": the certificate names localhost as well as
  // 127.0.0.1, but WinINet matches only names.
  std::wstring TlsLocalhostUrl(const std::string& path) const;
  // The HTTPS port's certificate (PEM), for a test that makes its client trust it; empty
  // when the server has no HTTPS port.
  std::wstring TlsCertificateFile() const { return tlsCertificate_; }

  // The suite's http proxy (http_proxy.py): "127.0.0.1:<port>"; empty when there is none.
  std::string ProxyAddress() const;
  // The request lines the proxy received so far ("CONNECT localhost:4433",
  // "GET http://127.0.0.1:8080/a"), in order.
  std::vector<std::string> ProxyRequests() const;

  // Serves `bytes` at the path (e.g. "/case/app/update.txt").
  void Put(const std::string& path, const std::string& bytes) const;
  void Remove(const std::string& path) const;
  // Directives for the path, one per line (see http_server.py): "status 404", "truncate
  // 10", "drop_after N", "chunked", "close", "length N", "drip BYTES_PER_S", "redirect URL
  // [STATUS]", "redirect_no_location", "ignore_range", "bad_content_range", "endless",
  // "stall_headers S", "stall_body S", "hold", "times K". An empty text restores plain
  // serving. Plain files answer "Range: bytes=N-" with 206 (416 when N is past the end).
  void Behave(const std::string& path, const std::string& directives) const;
  // Ends a "hold": the held response is closed.
  void Release(const std::string& path) const;

  // Paths of the requests received so far that start with the prefix, in order.
  std::vector<std::string> Requests(const std::string& prefix) const;
  // The User-Agent of each of those requests.
  std::vector<std::string> UserAgents(const std::string& prefix) const;
  // The N of "Range: bytes=N-" in each of those requests; -1 for a request without a
  // Range header or with another form of it.
  std::vector<std::int64_t> RangeStarts(const std::string& prefix) const;
  // The Range header of each of those requests as sent ("bytes=0-99,200-299"); empty for
  // a request without one.
  std::vector<std::string> RangeHeaders(const std::string& prefix) const;
  // The folder on this machine that holds what the server serves at the path.
  std::filesystem::path LocalPath(const std::string& path) const { return Local(path); }

 private:
  struct Request {
    std::string path;
    std::string userAgent;
    std::int64_t rangeStart = -1;
    std::string range;
  };

  TestHttpServer();
  std::filesystem::path Local(const std::string& path) const;
  // Each request under the prefix, in order.
  std::vector<Request> Log(const std::string& prefix) const;

  unsigned port_ = 0;
  unsigned tlsPort_ = 0;
  unsigned proxyPort_ = 0;
  std::filesystem::path proxyLog_;
  std::wstring tlsCertificate_;
  std::filesystem::path root_;
  std::filesystem::path log_;
};

// A prefix such as "/Fetch.Redirects-3/" unique to the running test and this process.
std::string UniqueServerFolder();

}  // namespace testing_support
