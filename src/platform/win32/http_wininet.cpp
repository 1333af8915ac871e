// Windows: one GET through WinINet.
#include <windows.h>
#include <wininet.h>

#include <cwchar>
#include <memory>
#include <vector>

#include "platform/http.h"

namespace platform {

void InitHttp() {}

void PrepareLargeBlock(void*, std::size_t) {}

namespace {

struct InternetHandle {
  HINTERNET handle = nullptr;
  explicit InternetHandle(HINTERNET h) : handle(h) {}
  ~InternetHandle() {
    if (handle) InternetCloseHandle(handle);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  explicit operator bool() const { return handle != nullptr; }
};

// WinINet's codes (12000 and up) live in its own module's message table.
std::wstring MessageFor(DWORD code) {
  wchar_t* text = nullptr;
  DWORD n = 0;
  if (code >= INTERNET_ERROR_BASE && code <= INTERNET_ERROR_LAST) {
    n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                           FORMAT_MESSAGE_IGNORE_INSERTS,
                       GetModuleHandleW(L"wininet.dll"), code, 0,
                       reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  }
  if (n == 0) {
    n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                           FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  }
  std::wstring message;
  if (n != 0 && text != nullptr) message.assign(text, n);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.'))
    message.pop_back();
  wchar_t suffix[48];
  std::swprintf(suffix, 48, message.empty() ? L"error %lu" : L" (%lu)",
                static_cast<unsigned long>(code));
  return message + suffix;
}

bool Fail(Error* err, DWORD code) {
  if (err) {
    err->code = code;
    err->message = MessageFor(code);
  }
  return false;
}

bool FailWithLastError(Error* err) { return Fail(err, GetLastError()); }

// Wine ignores time-outs on the session handle and honours them on the connection;
// Windows takes them from either. They are set on both, and on the request.
void SetTimeouts(HINTERNET handle, const HttpTimeouts& timeouts) {
  DWORD connect = timeouts.connectMs;
  DWORD idle = timeouts.idleMs;
  InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
  InternetSetOptionW(handle, INTERNET_OPTION_SEND_TIMEOUT, &idle, sizeof idle);
  InternetSetOptionW(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &idle, sizeof idle);
  InternetSetOptionW(handle, INTERNET_OPTION_DATA_SEND_TIMEOUT, &idle, sizeof idle);
  InternetSetOptionW(handle, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &idle, sizeof idle);
}

std::wstring UserAgent() { return ProgramName(); }

// The Content-Length header as a 64-bit number: -1 when absent, false when malformed.
bool QueryContentLength(HINTERNET request, std::int64_t* length) {
  wchar_t text[64];
  DWORD size = sizeof text;
  *length = -1;
  if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) {
    return GetLastError() == ERROR_HTTP_HEADER_NOT_FOUND;
  }
  size /= sizeof(wchar_t);
  std::int64_t value = 0;
  bool digits = false;
  for (DWORD i = 0; i < size && text[i]; ++i) {
    wchar_t c = text[i];
    if (c == L' ' || c == L'\t') {
      if (digits) break;
      continue;
    }
    if (c < L'0' || c > L'9') return false;
    digits = true;
    // Beyond any body a sink can hold: saturate so that the sink turns it down.
    value = value > (INT64_MAX - 9) / 10 ? INT64_MAX : value * 10 + (c - L'0');
  }
  if (!digits) return false;
  *length = value;
  return true;
}

}  // namespace

bool HttpGet(const std::wstring& url, HttpSink& sink, Error* err, const HttpTimeouts& timeouts) {
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength =
      parts.dwExtraInfoLength = parts.dwUserNameLength = parts.dwPasswordLength = 1;
  if (url.empty() || !InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts))
    return url.empty() ? Fail(err, ERROR_INTERNET_INVALID_URL) : FailWithLastError(err);
  bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  if (!secure && parts.nScheme != INTERNET_SCHEME_HTTP) return Fail(err, ERROR_INTERNET_UNRECOGNIZED_SCHEME);
  std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring user(parts.lpszUserName ? parts.lpszUserName : L"", parts.dwUserNameLength);
  std::wstring password(parts.lpszPassword ? parts.lpszPassword : L"", parts.dwPasswordLength);
  std::wstring path(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength);
  if (parts.lpszExtraInfo) path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (path.empty()) path = L"/";
  if (host.empty()) return Fail(err, ERROR_INTERNET_INVALID_URL);

  std::wstring agent = UserAgent();
  InternetHandle session(InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return FailWithLastError(err);
  SetTimeouts(session.handle, timeouts);

  InternetHandle connection(InternetConnectW(session.handle, host.c_str(), parts.nPort,
                                             user.empty() ? nullptr : user.c_str(),
                                             password.empty() ? nullptr : password.c_str(),
                                             INTERNET_SERVICE_HTTP, 0, 1));
  if (!connection) return FailWithLastError(err);
  SetTimeouts(connection.handle, timeouts);

  // Always from the server, never into the cache; a redirect from http to https is
  // followed like any other.
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI |
                INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;
  if (secure) flags |= INTERNET_FLAG_SECURE;
  const wchar_t* accept[] = {L"*/*", nullptr};
  InternetHandle request(HttpOpenRequestW(connection.handle, L"GET", path.c_str(), nullptr, nullptr,
                                          accept, flags, 1));
  if (!request) return FailWithLastError(err);
  SetTimeouts(request.handle, timeouts);

  if (!HttpSendRequestW(request.handle, nullptr, 0, nullptr, 0)) return FailWithLastError(err);

  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoW(request.handle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                      nullptr))
    return FailWithLastError(err);
  std::int64_t length = -1;
  if (!QueryContentLength(request.handle, &length)) {
    if (err) {
      err->code = ERROR_HTTP_INVALID_HEADER;
      err->message = L"invalid Content-Length";
    }
    return false;
  }
  if (!sink.Begin(status, length)) return true;

  std::vector<char> chunk(256 * 1024);
  std::int64_t received = 0;
  for (;;) {
    DWORD got = 0;
    if (!InternetReadFile(request.handle, chunk.data(), static_cast<DWORD>(chunk.size()), &got))
      return FailWithLastError(err);
    if (got == 0) break;
    received += got;
    if (!sink.Append(chunk.data(), got, err)) return false;
  }
  // WinINet reports a connection closed early as the end of the data: a body shorter
  // than announced must not pass for a whole one.
  if (length >= 0 && received != length) return Fail(err, ERROR_INTERNET_CONNECTION_ABORTED);
  return true;
}

}  // namespace platform
