// Windows-only part of the HTTP tests, run under Wine: trust in the test server's
// certificate through the user's root store, and a proxy through the user's Internet
// settings.
#include <windows.h>
#include <wincrypt.h>
#include <wininet.h>

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

namespace http_test {

bool WaitsAreCutPerRead() {
  // Wine's ntdll exports its version; Windows' has no such function.
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr;
}

namespace {
const wchar_t kInternetSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const wchar_t* const kProxyValues[] = {L"ProxyEnable", L"ProxyServer", L"ProxyOverride"};
}  // namespace

struct ProxyForThisProcess::Saved {
  struct Value {
    bool present = false;
    DWORD type = 0;
    std::vector<BYTE> data;
  } values[3];
};

ProxyForThisProcess::ProxyForThisProcess(const std::string& address) : saved_(new Saved) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kInternetSettings, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return;
  for (int i = 0; i < 3; ++i) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, kProxyValues[i], nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
      saved_->values[i].present = true;
      saved_->values[i].type = type;
      saved_->values[i].data.resize(size);
      RegQueryValueExW(key, kProxyValues[i], nullptr, &type, saved_->values[i].data.data(), &size);
    }
  }
  DWORD enable = 1;
  std::wstring server(address.begin(), address.end());
  set_ = RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable), sizeof enable) ==
             ERROR_SUCCESS &&
         RegSetValueExW(key, L"ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                        static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  RegDeleteValueW(key, L"ProxyOverride");  // nothing bypasses the proxy
  RegCloseKey(key);
  InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
  InternetSetOptionW(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
}

ProxyForThisProcess::~ProxyForThisProcess() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kInternetSettings, 0, KEY_WRITE, &key) == ERROR_SUCCESS) {
    for (int i = 0; i < 3; ++i) {
      const auto& value = saved_->values[i];
      if (value.present)
        RegSetValueExW(key, kProxyValues[i], 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
      else
        RegDeleteValueW(key, kProxyValues[i]);
    }
    RegCloseKey(key);
  }
  InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
  InternetSetOptionW(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
  delete saved_;
}

}  // namespace http_test
