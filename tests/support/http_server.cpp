#include "support/http_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>

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
    root_ = fs::path(platform::Utf8ToWide(root));
    log_ = fs::path(platform::Utf8ToWide(log));
  }
  if (const char* tls = std::getenv("LAUNCHER_TEST_HTTPS_PORT"))
    tlsPort_ = static_cast<unsigned>(std::strtoul(tls, nullptr, 10));
}

TestHttpServer& TestHttpServer::Get() {
  static TestHttpServer server;
  EXPECT_TRUE(server.Available()) << "no test server: run the program through tests/support/with-http-server";
  return server;
}

std::wstring TestHttpServer::Url(const std::string& path) const {
  return L"http://127.0.0.1:" + std::to_wstring(port_) + platform::Utf8ToWide(path);
}

std::wstring TestHttpServer::TlsUrl(const std::string& path) const {
  if (tlsPort_ == 0) return {};
  return L"https://127.0.0.1:" + std::to_wstring(tlsPort_) + platform::Utf8ToWide(path);
}

fs::path TestHttpServer::Local(const std::string& path) const {
  fs::path local = root_;
  std::stringstream parts(path);
  std::string part;
  while (std::getline(parts, part, '/')) {
    if (!part.empty()) local /= platform::Utf8ToWide(part);
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

std::vector<std::pair<std::string, std::string>> TestHttpServer::Log(const std::string& prefix) const {
  std::vector<std::pair<std::string, std::string>> requests;
  std::ifstream in(log_);
  std::string line;
  while (std::getline(in, line)) {
    size_t space = line.find(' ');
    size_t tab = line.find('\t');
    if (space == std::string::npos || tab == std::string::npos || tab < space) continue;
    std::string path = line.substr(space + 1, tab - space - 1);
    if (path.compare(0, prefix.size(), prefix) == 0) requests.emplace_back(path, line.substr(tab + 1));
  }
  return requests;
}

std::vector<std::string> TestHttpServer::Requests(const std::string& prefix) const {
  std::vector<std::string> paths;
  for (auto& request : Log(prefix)) paths.push_back(request.first);
  return paths;
}

std::vector<std::string> TestHttpServer::UserAgents(const std::string& prefix) const {
  std::vector<std::string> agents;
  for (auto& request : Log(prefix)) agents.push_back(request.second);
  return agents;
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
