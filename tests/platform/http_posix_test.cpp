// Linux-only parts of the HTTP tests: libcurl trusts a certificate file it is given and
// takes its proxy from the environment.
#include "http_test.h"

#include <stdlib.h>

#include <optional>
#include <string>
#include <vector>

namespace http_test {

TrustedTestCertificate::TrustedTestCertificate(const std::wstring& pemFile, platform::HttpOptions* options) {
  options->caFile = pemFile;
  trusted_ = !pemFile.empty();
}

TrustedTestCertificate::~TrustedTestCertificate() = default;

}  // namespace http_test

namespace http_test {

bool WaitsAreCutPerRead() { return true; }

struct ProxyForThisProcess::Saved {
  std::vector<std::pair<std::string, std::optional<std::string>>> variables;
};

ProxyForThisProcess::ProxyForThisProcess(const std::string& address) : saved_(new Saved) {
  const std::string url = "http://" + address;
  for (const char* name : {"http_proxy", "https_proxy", "no_proxy", "NO_PROXY", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"}) {
    const char* old = getenv(name);
    saved_->variables.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    unsetenv(name);
  }
  set_ = setenv("http_proxy", url.c_str(), 1) == 0 && setenv("https_proxy", url.c_str(), 1) == 0;
}

ProxyForThisProcess::~ProxyForThisProcess() {
  for (const auto& [name, value] : saved_->variables) {
    if (value) setenv(name.c_str(), value->c_str(), 1);
    else unsetenv(name.c_str());
  }
  delete saved_;
}

}  // namespace http_test
