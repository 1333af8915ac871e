#include "support/http_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "base/text.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace testing_support {

TestHttpServer::TestHttpServer() {
  const char* port = std::getenv("LAUNCHER_TEST_HTTP_PORT");
  const char* root = std::getenv("LAUNCHER_TEST_HTTP_ROOT");
  const char* log = std::getenv("LAUNCHER_TEST_HTTP_LOG");
  if (port && root && log) {
    port_ = static_cast<unsigned>(std::strtoul(port, nullptr, 10));
    root_ = fs::path(base::Utf8ToWide(root));
    log_ = fs::path(base::Utf8ToWide(log));
  }
  const char* proxyPort = std::getenv("LAUNCHER_TEST_PROXY_PORT");
  const char* proxyLog = std::getenv("LAUNCHER_TEST_PROXY_LOG");
  if (proxyPort && proxyLog) {
    proxyPort_ = static_cast<unsigned>(std::strtoul(proxyPort, nullptr, 10));
    proxyLog_ = fs::path(base::Utf8ToWide(proxyLog));
  }
  if (const char* tls = std::getenv("LAUNCHER_TEST_HTTPS_PORT"))
    tlsPort_ = static_cast<unsigned>(std::strtoul(tls, nullptr, 10));
  if (const char* certificate = std::getenv("LAUNCHER_TEST_HTTPS_CERT"); certificate && tlsPort_ != 0)
    tlsCertificate_ = base::Utf8ToWide(certificate);
}

TestHttpServer& TestHttpServer::Get() {
  static TestHttpServer server;
  EXPECT_TRUE(server.Available()) << "no test server: run the program through tests/support/with-http-server";
  return server;
}

std::wstring TestHttpServer::Url(const std::string& path) const {
  return L"http://127.0.0.1:" + std::to_wstring(port_) + base::Utf8ToWide(path);
}

std::wstring TestHttpServer::TlsUrl(const std::string& path) const {
  if (tlsPort_ == 0) return {};
  return L"https://127.0.0.1:" + std::to_wstring(tlsPort_) + base::Utf8ToWide(path);
}

std::wstring TestHttpServer::TlsLocalhostUrl(const std::string& path) const {
  if (tlsPort_ == 0) return {};
  return L"https://localhost:" + std::to_wstring(tlsPort_) + base::Utf8ToWide(path);
}

std::string TestHttpServer::ProxyAddress() const {
  return proxyPort_ == 0 ? std::string() : "127.0.0.1:" + std::to_string(proxyPort_);
}

std::vector<std::string> TestHttpServer::ProxyRequests() const {
  std::vector<std::string> lines;
  std::ifstream in(proxyLog_);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

fs::path TestHttpServer::Local(const std::string& path) const {
  fs::path local = root_;
  std::stringstream parts(path);
  std::string part;
  while (std::getline(parts, part, '/')) {
    // UTF-8 on both systems: a wide path would need a UTF-8 locale to reach a Linux name.
    if (!part.empty()) local /= fs::path(std::u8string(part.begin(), part.end()));
  }
  return local;
}

void TestHttpServer::Put(const std::string& path, const std::string& bytes) const {
  fs::path local = Local(path);
  fs::create_directories(local.parent_path());
  WriteBytes(local, bytes);
}

void TestHttpServer::Remove(const std::string& path) const {
  std::error_code ignored;
  fs::remove(Local(path), ignored);
}

void TestHttpServer::Behave(const std::string& path, const std::string& directives) const {
  fs::path local = Local(path);
  local += L".behaviour";
  if (directives.empty()) {
    std::error_code ignored;
    fs::remove(local, ignored);
    return;
  }
  fs::create_directories(local.parent_path());
  WriteBytes(local, directives);
}

void TestHttpServer::Release(const std::string& path) const {
  fs::path local = Local(path);
  local += L".release";
  WriteBytes(local, "");
}

std::vector<TestHttpServer::Request> TestHttpServer::Log(const std::string& prefix) const {
  // "GET /path<TAB>user agent[<TAB>range=N]" per request.
  std::vector<Request> requests;
  std::ifstream in(log_);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream parts(line);
    for (std::string field; std::getline(parts, field, '\t');) fields.push_back(field);
    size_t space = line.find(' ');
    if (line.find('\t') == std::string::npos || space == std::string::npos || space > fields[0].size()) continue;
    Request request;
    request.path = fields[0].substr(space + 1);
    if (request.path.compare(0, prefix.size(), prefix) != 0) continue;
    if (fields.size() > 1) request.userAgent = fields[1];
    for (size_t i = 2; i < fields.size(); ++i) {
      const std::string& field = fields[i];
      if (field.rfind("range=", 0) != 0) continue;
      const bool start = field.size() > 6 && field.find_first_not_of("0123456789", 6) == std::string::npos;
      if (start) request.rangeStart = std::stoll(field.substr(6));
      request.range = start ? "bytes=" + field.substr(6) + "-" : field.substr(6);
    }
    requests.push_back(std::move(request));
  }
  return requests;
}

std::vector<std::string> TestHttpServer::Requests(const std::string& prefix) const {
  std::vector<std::string> paths;
  for (auto& request : Log(prefix)) paths.push_back(request.path);
  return paths;
}

std::vector<std::string> TestHttpServer::UserAgents(const std::string& prefix) const {
  std::vector<std::string> agents;
  for (auto& request : Log(prefix)) agents.push_back(request.userAgent);
  return agents;
}

std::vector<std::int64_t> TestHttpServer::RangeStarts(const std::string& prefix) const {
  std::vector<std::int64_t> starts;
  for (auto& request : Log(prefix)) starts.push_back(request.rangeStart);
  return starts;
}

std::vector<std::string> TestHttpServer::RangeHeaders(const std::string& prefix) const {
  std::vector<std::string> ranges;
  for (auto& request : Log(prefix)) ranges.push_back(request.range);
  return ranges;
}

std::string UniqueServerFolder() {
  static std::atomic<unsigned> counter{0};
  std::string name = "case";
  if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info())
    name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') c = '_';
  }
  return "/" + name + "-" + std::to_string(platform::ProcessId()) + "-" +
         std::to_string(counter++) + "/";
}

}  // namespace testing_support
