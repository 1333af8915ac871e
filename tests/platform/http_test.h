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

// Whether this build's client honours a wait limit set again before each read of a body.
// libcurl: yes (the deadline is its own timer). WinINet on Windows: yes. Wine's WinINet
// sets a request's receive time-out on its socket only when the response's headers
// arrive, so there a wait set later is not honoured.
bool WaitsAreCutPerRead();

// Sends this process's requests through the http proxy at `address` ("127.0.0.1:port")
// for the life of the object, the way users behind one are configured. Linux: libcurl's
// http_proxy and https_proxy (and no no_proxy). Windows: the current user's Internet
// settings (ProxyEnable, ProxyServer), which WinINet reads for INTERNET_OPEN_TYPE_PRECONFIG,
// in the registry of the test run's own Wine prefix; the earlier values come back at the end.
class ProxyForThisProcess {
 public:
  explicit ProxyForThisProcess(const std::string& address);
  ~ProxyForThisProcess();
  ProxyForThisProcess(const ProxyForThisProcess&) = delete;
  ProxyForThisProcess& operator=(const ProxyForThisProcess&) = delete;

  bool Set() const { return set_; }

 private:
  bool set_ = false;
  struct Saved;
  Saved* saved_ = nullptr;
};

}  // namespace http_test
