// Linux: one GET through libcurl.
#include <curl/curl.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "base/text.h"
#include "base/http_rules.h"
#include "platform/http.h"

namespace platform {

void InitHttp() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool HttpSeesCutChunkedBody() { return true; }

namespace {

using base::http::Clock;
using base::http::TransferPace;

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct Transfer {
  Transfer(const HttpOptions& options, Clock::time_point start) : pace(options.Pace(), start) {}

  CURL* curl = nullptr;
  HttpSink* sink = nullptr;
  Error* err = nullptr;
  bool begun = false;
  bool declined = false;
  bool sinkFailed = false;
  bool stalled = false;
  bool downgrade = false;
  bool badLength = false;  // the final response's Content-Length is no number
  TransferPace::Limit limit = TransferPace::kNone;
  std::uint32_t idleMs = 0;
  curl_off_t lastCount = -1;
  Clock::time_point lastActivity;
  TransferPace pace;
  std::int64_t received = 0;  // body bytes handed to the sink
  // Requests that went out so far used https: a later one over http would lower the scheme.
  bool secureSoFar = false;
  // The headers of the response being read (each response of a redirect in turn).
  long status = 0;
  std::string location;
  std::string contentRange;
  std::string contentLength;
  bool hasContentLength = false;
  std::string contentType;
};

// The final response's head, once its headers are complete (an HTTP/0.9 answer has none:
// then at its first body bytes).
bool BeginBody(Transfer& t) {
  t.begun = true;
  HttpResponseHead head;
  long status = 0;
  curl_easy_getinfo(t.curl, CURLINFO_RESPONSE_CODE, &status);
  head.status = static_cast<unsigned>(status);
  curl_off_t length = -1;
  curl_easy_getinfo(t.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  head.contentLength = length < 0 ? -1 : static_cast<std::int64_t>(length);
  if (!t.contentRange.empty()) head.SetContentRange(t.contentRange);
  head.contentType = t.contentType;
  if (!t.sink->Begin(head)) {
    t.declined = true;
    return false;
  }
  return true;
}

size_t OnWrite(char* data, size_t size, size_t count, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  size_t n = size * count;
  if (!t.begun && !BeginBody(t)) return n == 0 ? 1 : 0;  // any value other than n stops curl
  if (t.declined) return n == 0 ? 1 : 0;
  if (n > 0 && !t.sink->Append(data, n, t.err)) {
    t.sinkFailed = true;
    return 0;
  }
  t.received += static_cast<std::int64_t>(n);
  return n;
}

bool StartsWithNoCase(const char* text, size_t size, const char* prefix) {
  size_t n = std::strlen(prefix);
  return size >= n && strncasecmp(text, prefix, n) == 0;
}

std::string Trimmed(const char* text, size_t size) {
  size_t begin = 0;
  while (begin < size && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (size > begin && (text[size - 1] == '\r' || text[size - 1] == '\n' || text[size - 1] == ' ' ||
                          text[size - 1] == '\t'))
    --size;
  return std::string(text + begin, size - begin);
}

// Each header line of each response, redirects included: what the messages and the head
// need, and the moment the final response's headers are complete.
size_t OnHeader(char* line, size_t size, size_t count, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  size_t n = size * count;
  if (StartsWithNoCase(line, n, "HTTP/")) {
    t.status = 0;
    t.location.clear();
    t.contentRange.clear();
    t.contentLength.clear();
    t.hasContentLength = false;
    t.contentType.clear();
    const char* space = static_cast<const char*>(std::memchr(line, ' ', n));
    if (space) t.status = std::strtol(space + 1, nullptr, 10);
  } else if (StartsWithNoCase(line, n, "Location:")) {
    t.location = Trimmed(line + 9, n - 9);
  } else if (StartsWithNoCase(line, n, "Content-Range:")) {
    t.contentRange = Trimmed(line + 14, n - 14);
  } else if (StartsWithNoCase(line, n, "Content-Length:")) {
    // A second one that differs makes the length as unknown as a malformed one.
    std::string value = Trimmed(line + 15, n - 15);
    if (t.hasContentLength && value != t.contentLength) value = "?";
    t.contentLength = value;
    t.hasContentLength = true;
  } else if (StartsWithNoCase(line, n, "Content-Type:")) {
    t.contentType = Trimmed(line + 13, n - 13);
  } else if (Trimmed(line, n).empty() && !t.begun) {
    // The end of a response's headers (or of a chunked body's trailers, once begun).
    bool followed = base::http::IsFollowedRedirect(static_cast<unsigned>(t.status)) && !t.location.empty();
    if (t.status >= 200 && !followed) {
      // libcurl reads "12 34" as 12 and ends the body there, as if it were whole.
      std::int64_t length = 0;
      if (t.hasContentLength && !base::http::ParseContentLength(t.contentLength, &length)) {
        t.badLength = true;
        return 0;
      }
      t.pace.StartWindow(Clock::now(), t.received);
      if (!BeginBody(t)) return 0;  // declined: stops curl
    }
  }
  return n;
}

// Just before each request goes out, on a connection already made: the last guard
// against a chain of redirects that went to https and comes back to http.
int OnRequest(void* user, char*, char*, int, int) {
  auto& t = *static_cast<Transfer*>(user);
  const char* scheme = nullptr;
  curl_easy_getinfo(t.curl, CURLINFO_SCHEME, &scheme);
  bool secure = scheme != nullptr && strcasecmp(scheme, "https") == 0;
  if (t.secureSoFar && !secure) {
    t.downgrade = true;
    return CURL_PREREQFUNC_ABORT;
  }
  t.secureSoFar = t.secureSoFar || secure;
  return CURL_PREREQFUNC_OK;
}

// libcurl has no per-read time-out: CURLOPT_TIMEOUT would cap the whole transfer, which
// a large package on a slow line must not hit. This fails the attempt when no byte has
// moved for the idle time, during the wait for headers as well as in the body, and when
// the body crawls below the rate floor or the deadline passes.
int OnProgress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
  auto& t = *static_cast<Transfer*>(user);
  auto now = Clock::now();
  if ((t.limit = t.pace.Check(now, t.received)) != TransferPace::kNone) return 1;
  curl_off_t count = dlnow + ulnow;
  if (count != t.lastCount) {
    t.lastCount = count;
    t.lastActivity = now;
    return 0;
  }
  if (now - t.lastActivity >= std::chrono::milliseconds(t.idleMs)) {
    t.stalled = true;
    return 1;
  }
  return 0;
}

std::string UserAgent() { return base::WideToUtf8(ProgramName()); }


}  // namespace

bool HttpGet(const std::wstring& url, HttpSink& sink, Error* err, const HttpOptions& options) {
  InitHttp();
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) {
    SetFailure(err, base::Utf8ToWide(curl_easy_strerror(CURLE_FAILED_INIT)), static_cast<std::uint32_t>(CURLE_FAILED_INIT));
    return false;
  }
  const auto start = Clock::now();
  Transfer t(options, start);
  t.curl = curl.get();
  t.sink = &sink;
  t.err = err;
  t.idleMs = options.timeouts.idleMs;
  t.lastActivity = start;

  // Always from the server itself: a cache between us and it must not answer.
  std::unique_ptr<curl_slist, SlistDeleter> headers(
      curl_slist_append(nullptr, "Cache-Control: no-cache"));
  headers.reset(curl_slist_append(headers.release(), "Pragma: no-cache"));

  char detail[CURL_ERROR_SIZE] = {};
  std::string narrowUrl = base::WideToUtf8(url);
  std::string agent = UserAgent();
  std::string range = !options.ranges.empty()    ? options.ranges
                      : options.rangeStart >= 0 ? std::to_string(options.rangeStart) + "-"
                                                : std::string();
  std::string caFile = base::WideToUtf8(options.caFile);
  const bool secureStart = narrowUrl.size() >= 8 && strncasecmp(narrowUrl.c_str(), "https://", 8) == 0;
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, narrowUrl.c_str());
  curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  // Never from https back to http: refused before libcurl even connects.
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, secureStart ? "https" : "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, static_cast<long>(base::http::kMaxRedirects));
  curl_easy_setopt(c, CURLOPT_PREREQFUNCTION, OnRequest);
  curl_easy_setopt(c, CURLOPT_PREREQDATA, &t);
  curl_easy_setopt(c, CURLOPT_USERAGENT, agent.c_str());
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  if (!range.empty()) curl_easy_setopt(c, CURLOPT_RANGE, range.c_str());
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);  // the update runs on a worker thread
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.timeouts.connectMs));
  // The progress callback sees the deadline only about once a second while nothing
  // arrives; libcurl's own timer ends the attempt on time.
  if (options.totalMs != 0) curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(options.totalMs));
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &t);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &t);
  // Behind a proxy (http_proxy, https_proxy), an https request first opens a tunnel, and
  // libcurl would hand the proxy's "200 Connection established" block to OnHeader like a
  // response of the server's: its end would pass for the final response's headers. Only
  // the server's own responses reach OnHeader.
  curl_easy_setopt(c, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnWrite);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
  curl_easy_setopt(c, CURLOPT_BUFFERSIZE, 256L * 1024);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, detail);
  // Certificates are checked against the system's store (libcurl's defaults, stated here
  // so that no later edit loosens them by accident).
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!caFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, caFile.c_str());

  CURLcode rc = curl_easy_perform(c);
  if (t.declined) return true;
  if (t.sinkFailed) return false;  // the sink has said why
  if (t.badLength) {
    SetFailure(err, L"invalid Content-Length",
               static_cast<std::uint32_t>(CURLE_WEIRD_SERVER_REPLY));
    return false;
  }
  if (rc == CURLE_OK) {
    if (!t.begun) BeginBody(t);  // an empty body calls no write callback
    return true;
  }
  // libcurl's timer counts from a moment a little after `start`, with its own rounding; a
  // connect time-out ends sooner.
  if (rc == CURLE_OPERATION_TIMEDOUT && t.limit == TransferPace::kNone && !t.stalled && options.totalMs != 0 &&
      Clock::now() - start + std::chrono::milliseconds(100) >= std::chrono::milliseconds(options.totalMs))
    t.limit = TransferPace::kTooLong;
  if (t.limit != TransferPace::kNone) {
    SetFailure(err, t.pace.Describe(t.limit), static_cast<std::uint32_t>(CURLE_OPERATION_TIMEDOUT));
    return false;
  }
  if (t.stalled) {
    wchar_t text[96];
    std::swprintf(text, 96, L"%ls: no data for %u ms",
                  base::Utf8ToWide(curl_easy_strerror(CURLE_OPERATION_TIMEDOUT)).c_str(),
                  static_cast<unsigned>(t.idleMs));
    SetFailure(err, text, static_cast<std::uint32_t>(CURLE_OPERATION_TIMEDOUT));
    return false;
  }
  // A redirect refused by CURLOPT_REDIR_PROTOCOLS_STR or by OnRequest.
  const bool toHttp = StartsWithNoCase(t.location.c_str(), t.location.size(), "http:");
  if (t.downgrade || (rc == CURLE_UNSUPPORTED_PROTOCOL && secureStart && toHttp)) {
    SetFailure(err, L"redirect from https to http refused: " + base::Utf8ToWide(t.location), static_cast<std::uint32_t>(rc));
    return false;
  }
  if (rc == CURLE_UNSUPPORTED_PROTOCOL && !t.location.empty() &&
      base::http::IsFollowedRedirect(static_cast<unsigned>(t.status))) {
    SetFailure(err, L"redirect to an address other than http or https refused: " + base::Utf8ToWide(t.location), static_cast<std::uint32_t>(rc));
    return false;
  }
  SetFailure(err, base::Utf8ToWide(detail[0] ? detail : curl_easy_strerror(rc)), static_cast<std::uint32_t>(rc));
  return false;
}

}  // namespace platform
