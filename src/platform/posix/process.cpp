// Linux: running a program with fork and exec.
#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/process.h"

#include "base/text.h"

namespace platform {

static std::string NameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

int RunProgram(const ProgramRun& run, Error* err) {
  // Everything the child needs is prepared before fork: only async-signal-safe calls after.
  std::string path = base::WideToUtf8(run.program);
  std::string dir = base::WideToUtf8(run.workingDir);
  std::string out = base::WideToUtf8(run.stdoutPath);
  std::vector<std::string> storage;
  storage.push_back(path);
  for (const std::wstring& arg : run.args) storage.push_back(base::WideToUtf8(arg));
  std::vector<char*> argv;
  for (std::string& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);

  std::vector<std::string> envStorage;
  for (char** e = environ; *e != nullptr; ++e) envStorage.emplace_back(*e);
  for (const std::wstring& change : run.environment) {
    std::string entry = base::WideToUtf8(change);
    std::string name = NameOf(entry);
    std::erase_if(envStorage, [&](const std::string& e) { return NameOf(e) == name; });
    envStorage.push_back(entry);
  }
  std::vector<char*> envp;
  for (std::string& s : envStorage) envp.push_back(s.data());
  envp.push_back(nullptr);

  int failurePipe[2];
  if (pipe2(failurePipe, O_CLOEXEC) != 0) {
    SetLastSystemError(err);
    return -1;
  }
  pid_t pid = fork();
  if (pid < 0) {
    SetLastSystemError(err);
    close(failurePipe[0]);
    close(failurePipe[1]);
    return -1;
  }
  if (pid == 0) {
    int fd = -1;
    if ((dir.empty() || chdir(dir.c_str()) == 0) &&
        (out.empty() || ((fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666)) >= 0 &&
                         dup2(fd, STDOUT_FILENO) >= 0))) {
      execve(path.c_str(), argv.data(), envp.data());
    }
    // Tell the parent why the child could not become the program.
    int code = errno;
    ssize_t ignored = write(failurePipe[1], &code, sizeof code);
    (void)ignored;
    _exit(127);
  }
  close(failurePipe[1]);
  int childErrno = 0;
  ssize_t got;
  do {
    got = read(failurePipe[0], &childErrno, sizeof childErrno);
  } while (got < 0 && errno == EINTR);
  close(failurePipe[0]);

  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (got == static_cast<ssize_t>(sizeof childErrno)) {
    errno = childErrno;
    SetLastSystemError(err);
    return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

bool EndProcess(unsigned long pid) {
  if (pid == 0 || pid > static_cast<unsigned long>(INT_MAX)) return false;
  return kill(static_cast<pid_t>(pid), SIGKILL) == 0;
}

std::uint64_t PeakMemoryBytes() {
  // VmHWM is the resident set's high-water mark, in kB.
  FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return 0;
  char line[256];
  std::uint64_t kb = 0;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, "VmHWM:", 6) == 0) {
      kb = std::strtoull(line + 6, nullptr, 10);
      break;
    }
  }
  std::fclose(status);
  return kb * 1024;
}

}  // namespace platform
