// What the tests of the platform HTTP layer share across their shared and their
// platform-specific parts.
#pragma once

#include <string>

#include "platform/http.h"

namespace http_test {

// Makes this build's client trust the test server's self-signed certificate for the
// life of the object. Linux: libcurl reads it from the file named in options->caFile.
// Windows: WinINet takes no certificate file, so the certificate goes into the current
// user's root store (of the test run's own Wine prefix) and out again at the end. Wine
// reads that store once per process, at the first https request: a program that trusts
// the certificate must not meet it untrusted before (nor count on it being untrusted after).
class TrustedTestCertificate {
 public:
  TrustedTestCertificate(const std::wstring& pemFile, platform::HttpOptions* options);
  ~TrustedTestCertificate();
  TrustedTestCertificate(const TrustedTestCertificate&) = delete;
  TrustedTestCertificate& operator=(const TrustedTestCertificate&) = delete;

  // False when it could not be set up (the test then fails).
  bool Trusted() const { return trusted_; }

 private:
  bool trusted_ = false;
  void* store_ = nullptr;   // Windows: the user's root store
  void* added_ = nullptr;   // Windows: the certificate as added to it
};

}  // namespace http_test
