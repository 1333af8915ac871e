// Windows-only part of the HTTP tests, run under Wine: trust in the test server's
// certificate through the user's root store.
#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "http_test.h"
#include "support/test_support.h"

namespace http_test {

TrustedTestCertificate::TrustedTestCertificate(const std::wstring& pemFile, platform::HttpOptions*) {
  if (pemFile.empty()) return;
  std::string pem = testing_support::ReadBytes(pemFile);
  DWORD size = 0;
  if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                            &size, nullptr, nullptr))
    return;
  std::vector<BYTE> der(size);
  if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                            &size, nullptr, nullptr))
    return;
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
  if (store == nullptr) return;
  PCCERT_CONTEXT added = nullptr;
  if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size, CERT_STORE_ADD_REPLACE_EXISTING,
                                        &added)) {
    CertCloseStore(store, 0);
    return;
  }
  store_ = store;
  added_ = const_cast<CERT_CONTEXT*>(added);
  // Wine keeps a registry store's changes in memory until it is committed (or closed), and
  // WinINet reads the registry through a store of its own.
  trusted_ = CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr) != FALSE;
}

TrustedTestCertificate::~TrustedTestCertificate() {
  if (added_) CertDeleteCertificateFromStore(static_cast<PCCERT_CONTEXT>(added_));
  if (store_) CertCloseStore(static_cast<HCERTSTORE>(store_), 0);
}

}  // namespace http_test
