// Linux: one GET through libcurl.
#include <curl/curl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>

#include "platform/http.h"

namespace platform {

void InitHttp() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void PrepareLargeBlock(void* data, std::size_t size) {
  const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  auto begin = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);
  auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(page - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

namespace {

using Clock = std::chrono::steady_clock;

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct Transfer {
  CURL* curl = nullptr;
  HttpSink* sink = nullptr;
  Error* err = nullptr;
  bool begun = false;
  bool declined = false;
  bool sinkFailed = false;
  bool stalled = false;
  std::uint32_t idleMs = 0;
  curl_off_t lastCount = -1;
  Clock::time_point lastActivity;
};

// The final response's status and length, once its headers are complete.
bool BeginBody(Transfer& t) {
  t.begun = true;
  long status = 0;
  curl_easy_getinfo(t.curl, CURLINFO_RESPONSE_CODE, &status);
  curl_off_t length = -1;
  curl_easy_getinfo(t.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  if (!t.sink->Begin(static_cast<unsigned>(status), length < 0 ? -1 : static_cast<std::int64_t>(length))) {
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
  return n;
}

// libcurl has no per-read time-out: CURLOPT_TIMEOUT would cap the whole transfer, which
// a large package on a slow line must not hit. This fails the attempt only when no byte
// has moved for the idle time, during the wait for headers as well as in the body.
int OnProgress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
  auto& t = *static_cast<Transfer*>(user);
  auto now = Clock::now();
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

std::string UserAgent() { return WideToUtf8(ProgramName()); }

void SetError(Error* err, std::uint32_t code, std::wstring message) {
  if (err == nullptr) return;
  err->code = code;
  err->message = std::move(message);
}

}  // namespace

bool HttpGet(const std::wstring& url, HttpSink& sink, Error* err, const HttpTimeouts& timeouts) {
  InitHttp();
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) {
    SetError(err, CURLE_FAILED_INIT, Utf8ToWide(curl_easy_strerror(CURLE_FAILED_INIT)));
    return false;
  }
  Transfer t;
  t.curl = curl.get();
  t.sink = &sink;
  t.err = err;
  t.idleMs = timeouts.idleMs;
  t.lastActivity = Clock::now();

  // Always from the server itself: a cache between us and it must not answer.
  std::unique_ptr<curl_slist, SlistDeleter> headers(
      curl_slist_append(nullptr, "Cache-Control: no-cache"));
  headers.reset(curl_slist_append(headers.release(), "Pragma: no-cache"));

  char detail[CURL_ERROR_SIZE] = {};
  std::string narrowUrl = WideToUtf8(url);
  std::string agent = UserAgent();
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, narrowUrl.c_str());
  curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(c, CURLOPT_USERAGENT, agent.c_str());
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);  // the update runs on a worker thread
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts.connectMs));
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &t);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnWrite);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
  curl_easy_setopt(c, CURLOPT_BUFFERSIZE, 256L * 1024);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, detail);
  // Certificates are checked against the system's store (libcurl's defaults, stated here
  // so that no later edit loosens them by accident).
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);

  CURLcode rc = curl_easy_perform(c);
  if (t.declined) return true;
  if (t.sinkFailed) return false;  // the sink has said why
  if (rc == CURLE_OK) {
    if (!t.begun) BeginBody(t);  // an empty body calls no write callback
    return true;
  }
  if (t.stalled) {
    wchar_t text[96];
    std::swprintf(text, 96, L"%ls: no data for %u ms",
                  Utf8ToWide(curl_easy_strerror(CURLE_OPERATION_TIMEDOUT)).c_str(),
                  static_cast<unsigned>(timeouts.idleMs));
    SetError(err, CURLE_OPERATION_TIMEDOUT, text);
    return false;
  }
  SetError(err, rc, Utf8ToWide(detail[0] ? detail : curl_easy_strerror(rc)));
  return false;
}

}  // namespace platform
