// Windows: one GET through WinINet.
#include <windows.h>
#include <wininet.h>

#include <cwchar>
#include <memory>
#include <vector>

#include "platform/http.h"
#include "platform/win32/error_text.h"
#include "base/http_rules.h"

namespace platform {

void InitHttp() {}

// WinINet decodes chunked bodies itself and, under Wine at least, takes a connection
// closed before the last chunk for the end of the body; nothing in its API tells them
// apart.
bool HttpSeesCutChunkedBody() { return false; }

namespace {

using base::http::Clock;
using base::http::TransferPace;

class InternetHandle {
 public:
  InternetHandle() = default;
  explicit InternetHandle(HINTERNET h) : handle_(h) {}
  ~InternetHandle() { Reset(); }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;

  void Reset(HINTERNET h = nullptr) {
    if (handle_) InternetCloseHandle(handle_);
    handle_ = h;
  }
  HINTERNET Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HINTERNET handle_ = nullptr;
};

struct NamedCode {
  DWORD code;
  const wchar_t* name;
};

#define LAUNCHER_NAMED(code) {code, L## #code}
// Wine has no message text for WinINet's codes (nor for some Winsock codes it passes
// through): a log line must still say more than a number.
constexpr NamedCode kCodeNames[] = {
    LAUNCHER_NAMED(ERROR_INTERNET_OUT_OF_HANDLES),
    LAUNCHER_NAMED(ERROR_INTERNET_TIMEOUT),
    LAUNCHER_NAMED(ERROR_INTERNET_EXTENDED_ERROR),
    LAUNCHER_NAMED(ERROR_INTERNET_INTERNAL_ERROR),
    LAUNCHER_NAMED(ERROR_INTERNET_INVALID_URL),
    LAUNCHER_NAMED(ERROR_INTERNET_UNRECOGNIZED_SCHEME),
    LAUNCHER_NAMED(ERROR_INTERNET_NAME_NOT_RESOLVED),
    LAUNCHER_NAMED(ERROR_INTERNET_PROTOCOL_NOT_FOUND),
    LAUNCHER_NAMED(ERROR_INTERNET_INVALID_OPTION),
    LAUNCHER_NAMED(ERROR_INTERNET_SHUTDOWN),
    LAUNCHER_NAMED(ERROR_INTERNET_LOGIN_FAILURE),
    LAUNCHER_NAMED(ERROR_INTERNET_INVALID_OPERATION),
    LAUNCHER_NAMED(ERROR_INTERNET_OPERATION_CANCELLED),
    LAUNCHER_NAMED(ERROR_INTERNET_INCORRECT_HANDLE_TYPE),
    LAUNCHER_NAMED(ERROR_INTERNET_INCORRECT_HANDLE_STATE),
    LAUNCHER_NAMED(ERROR_INTERNET_ITEM_NOT_FOUND),
    LAUNCHER_NAMED(ERROR_INTERNET_CANNOT_CONNECT),
    LAUNCHER_NAMED(ERROR_INTERNET_CONNECTION_ABORTED),
    LAUNCHER_NAMED(ERROR_INTERNET_CONNECTION_RESET),
    LAUNCHER_NAMED(ERROR_INTERNET_FORCE_RETRY),
    LAUNCHER_NAMED(ERROR_INTERNET_INVALID_PROXY_REQUEST),
    LAUNCHER_NAMED(ERROR_INTERNET_NEED_UI),
    LAUNCHER_NAMED(ERROR_INTERNET_SEC_CERT_DATE_INVALID),
    LAUNCHER_NAMED(ERROR_INTERNET_SEC_CERT_CN_INVALID),
    LAUNCHER_NAMED(ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR),
    LAUNCHER_NAMED(ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR),
    LAUNCHER_NAMED(ERROR_INTERNET_MIXED_SECURITY),
    LAUNCHER_NAMED(ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED),
    LAUNCHER_NAMED(ERROR_INTERNET_INVALID_CA),
    LAUNCHER_NAMED(ERROR_INTERNET_CLIENT_AUTH_NOT_SETUP),
    LAUNCHER_NAMED(ERROR_INTERNET_REDIRECT_SCHEME_CHANGE),
    LAUNCHER_NAMED(ERROR_INTERNET_SEC_CERT_ERRORS),
    LAUNCHER_NAMED(ERROR_INTERNET_SEC_CERT_NO_REV),
    LAUNCHER_NAMED(ERROR_INTERNET_SEC_CERT_REV_FAILED),
    LAUNCHER_NAMED(ERROR_HTTP_HEADER_NOT_FOUND),
    LAUNCHER_NAMED(ERROR_HTTP_DOWNLEVEL_SERVER),
    LAUNCHER_NAMED(ERROR_HTTP_INVALID_SERVER_RESPONSE),
    LAUNCHER_NAMED(ERROR_HTTP_INVALID_HEADER),
    LAUNCHER_NAMED(ERROR_HTTP_INVALID_QUERY_REQUEST),
    LAUNCHER_NAMED(ERROR_HTTP_REDIRECT_FAILED),
    LAUNCHER_NAMED(ERROR_HTTP_NOT_REDIRECTED),
    LAUNCHER_NAMED(ERROR_HTTP_REDIRECT_NEEDS_CONFIRMATION),
    LAUNCHER_NAMED(ERROR_INTERNET_SECURITY_CHANNEL_ERROR),
    LAUNCHER_NAMED(ERROR_INTERNET_UNABLE_TO_CACHE_FILE),
    LAUNCHER_NAMED(ERROR_INTERNET_TCPIP_NOT_INSTALLED),
    LAUNCHER_NAMED(ERROR_INTERNET_DISCONNECTED),
    LAUNCHER_NAMED(ERROR_INTERNET_SERVER_UNREACHABLE),
    LAUNCHER_NAMED(ERROR_INTERNET_PROXY_SERVER_UNREACHABLE),
    LAUNCHER_NAMED(ERROR_INTERNET_BAD_AUTO_PROXY_SCRIPT),
    LAUNCHER_NAMED(ERROR_INTERNET_UNABLE_TO_DOWNLOAD_SCRIPT),
    LAUNCHER_NAMED(ERROR_INTERNET_SEC_INVALID_CERT),
    LAUNCHER_NAMED(ERROR_INTERNET_SEC_CERT_REVOKED),
    LAUNCHER_NAMED(ERROR_INTERNET_FAILED_DUETOSECURITYCHECK),
    LAUNCHER_NAMED(ERROR_INTERNET_NOT_INITIALIZED),
    // Wine hands some socket failures on as they are (a stalled body read: 10060).
    LAUNCHER_NAMED(WSAECONNABORTED),
    LAUNCHER_NAMED(WSAECONNRESET),
    LAUNCHER_NAMED(WSAETIMEDOUT),
    LAUNCHER_NAMED(WSAECONNREFUSED),
    LAUNCHER_NAMED(WSAEHOSTUNREACH),
};
#undef LAUNCHER_NAMED

// The system's text for the code followed by " (code)"; the code's name instead of the
// text where the system has none.
std::wstring MessageFor(DWORD code) {
  std::wstring message = SystemErrorText(code);
  if (message.empty()) {
    for (const NamedCode& named : kCodeNames) {
      if (named.code == code) message = named.name;
    }
  }
  wchar_t suffix[48];
  std::swprintf(suffix, 48, message.empty() ? L"error %lu" : L" (%lu)", static_cast<unsigned long>(code));
  return message + suffix;
}

bool Fail(Error* err, DWORD code, std::wstring message) {
  return SetFailure(err, std::move(message), code);
}

bool Fail(Error* err, DWORD code) { return Fail(err, code, MessageFor(code)); }

bool FailWithLastError(Error* err) { return Fail(err, GetLastError()); }

// Wine ignores time-outs on the session handle and honours them on the connection;
// Windows takes them from either. They are set on both, and on the request.
void SetTimeouts(HINTERNET handle, DWORD connect, DWORD idle) {
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
    // Longer than any number a body can have is no length either.
    return GetLastError() == ERROR_HTTP_HEADER_NOT_FOUND;
  }
  std::string narrow;
  for (DWORD i = 0; i < size / sizeof(wchar_t) && text[i]; ++i) narrow += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
  return base::http::ParseContentLength(narrow, length);
}

// A header of the response as text; empty when absent.
std::wstring QueryHeader(HINTERNET request, DWORD which) {
  std::vector<wchar_t> text(256);
  for (;;) {
    DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (HttpQueryInfoW(request, which, text.data(), &size, nullptr))
      return std::wstring(text.data(), size / sizeof(wchar_t));
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || text.size() >= 64 * 1024) return {};
    text.resize(size / sizeof(wchar_t) + 1);
  }
}

// The parts of an http or https URL that WinINet asks for one by one.
struct Address {
  bool secure = false;
  INTERNET_PORT port = 0;
  std::wstring host, user, password, path;
};

// False with the error when the URL is not an http or https address.
bool Crack(const std::wstring& url, Address* out, Error* err) {
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength =
      parts.dwUserNameLength = parts.dwPasswordLength = 1;
  if (url.empty()) return Fail(err, ERROR_INTERNET_INVALID_URL);
  if (!InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) return FailWithLastError(err);
  out->secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  if (!out->secure && parts.nScheme != INTERNET_SCHEME_HTTP) return Fail(err, ERROR_INTERNET_UNRECOGNIZED_SCHEME);
  out->port = parts.nPort;
  out->host.assign(parts.lpszHostName ? parts.lpszHostName : L"", parts.dwHostNameLength);
  out->user.assign(parts.lpszUserName ? parts.lpszUserName : L"", parts.dwUserNameLength);
  out->password.assign(parts.lpszPassword ? parts.lpszPassword : L"", parts.dwPasswordLength);
  out->path.assign(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength);
  if (parts.lpszExtraInfo) out->path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (out->path.empty()) out->path = L"/";
  if (out->host.empty()) return Fail(err, ERROR_INTERNET_INVALID_URL);
  return true;
}

// A Location resolved against the URL that answered with it; false, with the system's
// code in *code (0 when it gives none), when the two cannot be combined. A Location as
// long as the longest URL WinINet takes makes none (Wine even returns a cut one for it).
bool Resolve(const std::wstring& base, const std::wstring& location, std::wstring* resolved, DWORD* code) {
  *code = 0;
  if (location.size() >= INTERNET_MAX_URL_LENGTH) return false;
  std::vector<wchar_t> text(INTERNET_MAX_URL_LENGTH);
  for (int tries = 0; tries < 2; ++tries) {
    DWORD size = static_cast<DWORD>(text.size());
    if (InternetCombineUrlW(base.c_str(), location.c_str(), text.data(), &size, ICU_NO_ENCODE)) {
      resolved->assign(text.data(), size);
      return true;
    }
    *code = GetLastError();
    if (*code != ERROR_INSUFFICIENT_BUFFER) break;
    text.resize(size + 1);
  }
  return false;
}

// The response head as the sink sees it. False when Content-Length is malformed.
bool ReadHead(HINTERNET request, DWORD status, HttpResponseHead* head, Error* err) {
  head->status = status;
  if (!QueryContentLength(request, &head->contentLength))
    return Fail(err, ERROR_HTTP_INVALID_HEADER, L"invalid Content-Length");
  std::wstring range = QueryHeader(request, HTTP_QUERY_CONTENT_RANGE);
  if (!range.empty()) {
    std::string narrow;
    for (wchar_t c : range) narrow += c < 0x80 ? static_cast<char>(c) : '?';
    head->SetContentRange(narrow);
  }
  for (wchar_t c : QueryHeader(request, HTTP_QUERY_CONTENT_TYPE)) head->contentType += c < 0x80 ? static_cast<char>(c) : '?';
  return true;
}

}  // namespace

bool HttpGet(const std::wstring& url, HttpSink& sink, Error* err, const HttpOptions& options) {
  TransferPace pace(options.Pace(), Clock::now());
  // A failed call after the deadline has passed failed because of it (the waits are cut
  // to the time left): say so rather than "time-out".
  auto failCall = [&](std::int64_t received) {
    DWORD code = GetLastError();
    if (pace.Check(Clock::now(), received) == TransferPace::kTooLong)
      return Fail(err, ERROR_INTERNET_TIMEOUT, pace.Describe(TransferPace::kTooLong));
    return Fail(err, code);
  };

  Address address;
  if (!Crack(url, &address, err)) return false;

  std::wstring agent = UserAgent();
  InternetHandle session(InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return FailWithLastError(err);
  SetTimeouts(session.Get(), options.timeouts.connectMs, options.timeouts.idleMs);

  std::wstring headers;
  if (!options.ranges.empty())
    headers = L"Range: bytes=" + std::wstring(options.ranges.begin(), options.ranges.end()) + L"\r\n";
  else if (options.rangeStart >= 0)
    headers = L"Range: bytes=" + std::to_wstring(options.rangeStart) + L"-\r\n";

  // Redirects are followed here rather than by WinINet, which would follow one from
  // https to http (sending the request in clear before anyone could object).
  std::wstring current = url;
  bool secureSoFar = false;
  InternetHandle connection, request;
  DWORD status = 0;
  for (int redirects = 0;; ++redirects) {
    secureSoFar = secureSoFar || address.secure;
    auto now = Clock::now();
    DWORD connectMs = pace.WaitLimit(now, options.timeouts.connectMs);
    DWORD idleMs = pace.WaitLimit(now, options.timeouts.idleMs);
    request.Reset();
    connection.Reset(InternetConnectW(session.Get(), address.host.c_str(), address.port,
                                      address.user.empty() ? nullptr : address.user.c_str(),
                                      address.password.empty() ? nullptr : address.password.c_str(),
                                      INTERNET_SERVICE_HTTP, 0, 1));
    if (!connection) return FailWithLastError(err);
    SetTimeouts(connection.Get(), connectMs, idleMs);

    // Always from the server, never into the cache.
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI |
                  INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (address.secure) flags |= INTERNET_FLAG_SECURE;
    const wchar_t* accept[] = {L"*/*", nullptr};
    request.Reset(HttpOpenRequestW(connection.Get(), L"GET", address.path.c_str(), nullptr, nullptr, accept,
                                   flags, 1));
    if (!request) return FailWithLastError(err);
    SetTimeouts(request.Get(), connectMs, idleMs);

    if (!HttpSendRequestW(request.Get(), headers.empty() ? nullptr : headers.c_str(),
                          static_cast<DWORD>(headers.size()), nullptr, 0))
      return failCall(0);

    DWORD size = sizeof status;
    if (!HttpQueryInfoW(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
      return FailWithLastError(err);
    if (pace.Check(Clock::now(), 0) == TransferPace::kTooLong)
      return Fail(err, ERROR_INTERNET_TIMEOUT, pace.Describe(TransferPace::kTooLong));
    if (!base::http::IsFollowedRedirect(status)) break;
    std::wstring location = QueryHeader(request.Get(), HTTP_QUERY_LOCATION);
    if (location.empty()) break;  // nowhere to go: the sink gets the 3xx itself
    if (redirects == base::http::kMaxRedirects)
      return Fail(err, ERROR_HTTP_REDIRECT_FAILED,
                  L"more than " + std::to_wstring(base::http::kMaxRedirects) + L" redirects");
    std::wstring next;
    DWORD code = 0;
    if (!Resolve(current, location, &next, &code))
      return Fail(err, ERROR_HTTP_REDIRECT_FAILED,
                  L"redirect to an address that cannot be resolved: " + location +
                      (code != 0 ? L" (" + MessageFor(code) + L")" : std::wstring()));
    if (!Crack(next, &address, nullptr))
      return Fail(err, ERROR_HTTP_REDIRECT_FAILED, L"redirect to an address other than http or https refused: " + next);
    if (secureSoFar && !address.secure)
      return Fail(err, ERROR_HTTP_REDIRECT_FAILED, L"redirect from https to http refused: " + next);
    current = std::move(next);
  }

  HttpResponseHead head;
  if (!ReadHead(request.Get(), status, &head, err)) return false;
  if (!sink.Begin(head)) return true;
  pace.StartWindow(Clock::now(), 0);

  // Each read takes what has arrived rather than waiting to fill the buffer, so that the
  // rate and the deadline are judged as the bytes come; and each wait is cut to the time
  // the deadline leaves, so that a body that stalls late cannot keep the attempt waiting
  // a whole idle time past it.
  std::vector<char> chunk(256 * 1024);
  std::int64_t received = 0;
  auto limitWait = [&] {
    DWORD wait = pace.WaitLimit(Clock::now(), options.timeouts.idleMs);
    for (HINTERNET handle : {connection.Get(), request.Get()}) {
      InternetSetOptionW(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &wait, sizeof wait);
      InternetSetOptionW(handle, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &wait, sizeof wait);
    }
  };
  for (;;) {
    DWORD available = 0;
    if (options.totalMs != 0) limitWait();
    if (!InternetQueryDataAvailable(request.Get(), &available, 0, 0)) return failCall(received);
    DWORD wanted = available == 0 || available > chunk.size() ? static_cast<DWORD>(chunk.size()) : available;
    DWORD got = 0;
    if (options.totalMs != 0) limitWait();
    if (!InternetReadFile(request.Get(), chunk.data(), wanted, &got)) return failCall(received);
    if (got == 0) break;
    received += got;
    if (!sink.Append(chunk.data(), got, err)) return false;
    if (auto limit = pace.Check(Clock::now(), received); limit != TransferPace::kNone)
      return Fail(err, ERROR_INTERNET_TIMEOUT, pace.Describe(limit));
  }
  // WinINet reports a connection closed early as the end of the data: a body shorter
  // than announced must not pass for a whole one.
  if (head.contentLength >= 0 && received != head.contentLength) {
    return Fail(err, ERROR_INTERNET_CONNECTION_ABORTED,
                MessageFor(ERROR_INTERNET_CONNECTION_ABORTED) + L": the body ended after " +
                    std::to_wstring(received) + L" of " + std::to_wstring(head.contentLength) + L" bytes");
  }
  return true;
}

}  // namespace platform
