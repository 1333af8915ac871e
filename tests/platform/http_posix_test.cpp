// Linux-only parts of the HTTP tests: libcurl trusts a certificate file it is given.
#include "http_test.h"

namespace http_test {

TrustedTestCertificate::TrustedTestCertificate(const std::wstring& pemFile, platform::HttpOptions* options) {
  options->caFile = pemFile;
  trusted_ = !pemFile.empty();
}

TrustedTestCertificate::~TrustedTestCertificate() = default;

}  // namespace http_test
