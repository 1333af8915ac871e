// Linux: process, folders, text and time.
#include <errno.h>
#include <limits.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "base/text.h"
#include "branding.h"
#include "platform/platform.h"

namespace platform {

void SetLastSystemError(Error* err) {
  int code = errno;
  if (err == nullptr) return;
  err->code = static_cast<std::uint32_t>(code);
  char buffer[256];
  // GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = strerror_r(code, buffer, sizeof buffer);
  err->message = base::Utf8ToWide(text ? text : "unknown error");
}

std::wstring ExecutablePath() {
  std::string buffer(256, '\0');
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<size_t>(n));
      return base::Utf8ToWide(buffer);
    }
    buffer.resize(buffer.size() * 2);
  }
}

static std::string HomeFolder() {
  if (const char* home = getenv("HOME"); home && *home == '/') return home;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return {};
}

static std::string StripTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// XDG_DOCUMENTS_DIR="$HOME/Documents" as the desktop writes it into user-dirs.dirs.
static std::string XdgDocumentsDir(const std::string& home) {
  std::string config;
  if (const char* c = getenv("XDG_CONFIG_HOME"); c && *c == '/') config = c;
  else if (!home.empty()) config = home + "/.config";
  else return {};
  std::ifstream in(config + "/user-dirs.dirs");
  std::string line;
  while (std::getline(in, line)) {
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, 18, "XDG_DOCUMENTS_DIR=") != 0) continue;
    std::string value = line.substr(start + 18);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
    if (value.empty() || value[0] != '/') return {};
    // "$HOME/" alone means the documents folder is switched off: the home itself.
    return StripTrailingSlashes(value);
  }
  return {};
}

std::wstring DocumentsFolder() {
  std::string home = HomeFolder();
  std::string docs = XdgDocumentsDir(home);
  if (docs.empty() && !home.empty()) {
    struct stat st;
    std::string candidate = StripTrailingSlashes(home) + "/Documents";
    docs = (stat(candidate.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ? candidate
                                                                       : StripTrailingSlashes(home);
  }
  return base::Utf8ToWide(docs);
}

std::wstring LocalAppDataFolder() {
  if (const char* d = getenv("XDG_DATA_HOME"); d && *d == '/') return base::Utf8ToWide(StripTrailingSlashes(d));
  std::string home = HomeFolder();
  if (home.empty()) return {};
  return base::Utf8ToWide(StripTrailingSlashes(home) + "/.local/share");
}

bool IsDirectory(const std::wstring& path) {
  struct stat st;
  return stat(base::WideToUtf8(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectory(const std::wstring& path) {
  return mkdir(base::WideToUtf8(path).c_str(), 0700) == 0;
}

bool ChangeCurrentDirectory(const std::wstring& path) {
  return chdir(base::WideToUtf8(path).c_str()) == 0;
}

std::wstring CurrentDirectory() {
  std::string buffer(PATH_MAX, '\0');
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return {};
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(strlen(buffer.c_str()));
  return base::Utf8ToWide(buffer);
}

bool ProgramVersion(std::uint16_t out[4]) {
  // Linux executables carry no version resource: the build's own version is the answer.
  for (int i = 0; i < 4; ++i) out[i] = branding::kVersion[i];
  return true;
}

// Linux text is UTF-8 everywhere.

std::string WideToAnsi(const std::wstring& text) { return base::WideToUtf8(text); }
std::string PathInAnsiCodePage(const std::wstring& path) { return base::WideToUtf8(path); }
std::wstring ThreadAnsiToWide(const std::string& bytes) { return base::Utf8ToWide(bytes); }

std::tm LocalTimeNow() {
  std::time_t now = std::time(nullptr);
  std::tm result{};
  localtime_r(&now, &result);
  return result;
}

static void WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    done += static_cast<size_t>(n);
  }
}

void WriteStdout(const std::string& bytes) { WriteAll(STDOUT_FILENO, bytes); }
void WriteStderr(const std::string& bytes) { WriteAll(STDERR_FILENO, bytes); }

void ExitProcessNow(int code) {
  std::fflush(nullptr);
  _exit(code);
}

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

bool RandomBytes(void* out, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(out);
  while (size > 0) {
    ssize_t n = getrandom(bytes, size, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool ProcessIsRunning(unsigned long pid) {
  if (pid == 0 || pid > static_cast<unsigned long>(INT_MAX)) return false;
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace platform
