// Windows: running a program with CreateProcessW.
#include <windows.h>
#include <psapi.h>

#include <cwchar>
#include <cwctype>

#include "platform/process.h"

namespace platform {

// One argument quoted so that CommandLineToArgvW and the C runtime read it back as is.
static void AppendQuoted(std::wstring* line, const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    *line += arg;
    return;
  }
  *line += L'"';
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are literal unless a quote follows them.
    line->append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    *line += c;
  }
  line->append(backslashes * 2, L'\\');
  *line += L'"';
}

static std::wstring NameOf(const std::wstring& entry) {
  // "=C:=C:\dir" entries keep the drive's current folder: their name starts after the '='.
  size_t eq = entry.find(L'=', 1);
  std::wstring name = entry.substr(0, eq);
  for (wchar_t& c : name) c = static_cast<wchar_t>(towupper(c));
  return name;
}

// This process's environment block with the entries added or replaced.
static std::wstring EnvironmentBlock(const std::vector<std::wstring>& changes) {
  std::vector<std::wstring> entries;
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* p = block; *p != L'\0'; p += wcslen(p) + 1) entries.emplace_back(p);
    FreeEnvironmentStringsW(block);
  }
  for (const std::wstring& change : changes) {
    std::wstring name = NameOf(change);
    std::erase_if(entries, [&](const std::wstring& e) { return NameOf(e) == name; });
    entries.push_back(change);
  }
  std::wstring result;
  for (const std::wstring& e : entries) result.append(e).push_back(L'\0');
  result.push_back(L'\0');
  return result;
}

int RunProgram(const ProgramRun& run, Error* err) {
  const std::wstring& program = run.program;
  const std::wstring& stdoutPath = run.stdoutPath;
  const std::wstring& workingDir = run.workingDir;
  std::wstring commandLine;
  AppendQuoted(&commandLine, program);
  for (const std::wstring& arg : run.args) {
    commandLine += L' ';
    AppendQuoted(&commandLine, arg);
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  HANDLE output = INVALID_HANDLE_VALUE;
  if (!stdoutPath.empty()) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    output = CreateFileW(stdoutPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
      SetLastSystemError(err);
      return -1;
    }
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  }

  std::wstring environment;
  if (!run.environment.empty()) environment = EnvironmentBlock(run.environment);
  PROCESS_INFORMATION process{};
  BOOL started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr,
                                output != INVALID_HANDLE_VALUE, CREATE_UNICODE_ENVIRONMENT,
                                environment.empty() ? nullptr : environment.data(),
                                workingDir.empty() ? nullptr : workingDir.c_str(), &startup, &process);
  if (!started) SetLastSystemError(err);
  if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
  if (!started) return -1;

  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

bool EndProcess(unsigned long pid) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return false;
  BOOL ended = TerminateProcess(process, 1);
  CloseHandle(process);
  return ended != 0;
}

std::uint64_t PeakMemoryBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return counters.PeakWorkingSetSize;
}

}  // namespace platform
