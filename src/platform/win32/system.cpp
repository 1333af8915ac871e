// Windows: process, folders, text and time.
#include <windows.h>
#include <bcrypt.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>
#include <vector>

#include "base/text.h"
#include "platform/platform.h"
#include "platform/win32/error_text.h"

namespace platform {

std::wstring SystemErrorText(DWORD code) {
  const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS;
  wchar_t* text = nullptr;
  DWORD n = 0;
  HMODULE wininet = GetModuleHandleW(L"wininet.dll");
  // WinINet's own codes first from its table: the system's may hold another text for them.
  if (wininet != nullptr && code >= 12000 && code <= 12999) {
    n = FormatMessageW(flags | FORMAT_MESSAGE_FROM_HMODULE, wininet, code, 0,
                       reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  }
  if (n == 0) {
    n = FormatMessageW(flags | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0,
                       reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  }
  if (n == 0 && wininet != nullptr) {
    n = FormatMessageW(flags | FORMAT_MESSAGE_FROM_HMODULE, wininet, code, 0,
                       reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  }
  std::wstring message;
  if (n != 0 && text != nullptr) message.assign(text, n);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.'))
    message.pop_back();
  return message;
}

static std::wstring SystemMessage(DWORD code) {
  std::wstring message = SystemErrorText(code);
  if (!message.empty()) return message;
  wchar_t buffer[48];
  swprintf(buffer, 48, L"error %lu", static_cast<unsigned long>(code));
  return buffer;
}

void SetLastSystemError(Error* err) {
  DWORD code = GetLastError();
  if (err == nullptr) return;
  err->code = code;
  err->message = SystemMessage(code);
}

std::wstring ExecutablePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(buffer.size() * 2);  // cut: ask again with more room
  }
}

static std::wstring SpecialFolder(int csidl) {
  PIDLIST_ABSOLUTE items = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &items)) || items == nullptr) return {};
  wchar_t path[MAX_PATH] = {};
  BOOL ok = SHGetPathFromIDListW(items, path);
  CoTaskMemFree(items);
  if (!ok) return {};
  std::wstring result(path);
  // Wine gives "C:\users\x\Documents\" where Windows gives no trailing backslash.
  while (result.size() > 3 && (result.back() == L'\\' || result.back() == L'/')) result.pop_back();
  return result;
}

std::wstring DocumentsFolder() { return SpecialFolder(CSIDL_PERSONAL); }
std::wstring LocalAppDataFolder() { return SpecialFolder(CSIDL_LOCAL_APPDATA); }

bool IsDirectory(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeDirectory(const std::wstring& path) { return CreateDirectoryW(path.c_str(), nullptr) != 0; }

bool ChangeCurrentDirectory(const std::wstring& path) { return SetCurrentDirectoryW(path.c_str()) != 0; }

std::wstring CurrentDirectory() {
  DWORD needed = GetCurrentDirectoryW(0, nullptr);
  if (needed == 0) return {};
  std::wstring buffer(needed, L'\0');
  DWORD n = GetCurrentDirectoryW(needed, buffer.data());
  if (n == 0 || n >= needed) return {};
  buffer.resize(n);
  return buffer;
}

bool ProgramVersion(std::uint16_t out[4]) {
  std::wstring exe = ExecutablePath();
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
  if (size == 0) return false;
  std::vector<unsigned char> block(size);
  if (!GetFileVersionInfoW(exe.c_str(), 0, size, block.data())) return false;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT infoSize = 0;
  if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &infoSize) ||
      info == nullptr || infoSize < sizeof(VS_FIXEDFILEINFO))
    return false;
  out[0] = HIWORD(info->dwProductVersionMS);
  out[1] = LOWORD(info->dwProductVersionMS);
  out[2] = HIWORD(info->dwProductVersionLS);
  out[3] = LOWORD(info->dwProductVersionLS);
  return true;
}

static std::string WideToCodePage(UINT codePage, const std::wstring& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

static std::wstring CodePageToWide(UINT codePage, const std::string& bytes) {
  if (bytes.empty()) return {};
  int n = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
  return out;
}

std::string WideToAnsi(const std::wstring& text) { return WideToCodePage(CP_ACP, text); }

// The ANSI form, or false when some character has no place in the code page.
static bool ToAnsiExactly(const std::wstring& text, std::string* out) {
  out->clear();
  if (text.empty()) return true;
  BOOL lossy = FALSE;
  int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                              nullptr, 0, nullptr, &lossy);
  if (n <= 0) return false;
  out->resize(static_cast<size_t>(n));
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                      out->data(), n, nullptr, &lossy);
  return !lossy;
}

std::string PathInAnsiCodePage(const std::wstring& path) {
  std::string ansi;
  if (ToAnsiExactly(path, &ansi)) return ansi;
  DWORD needed = GetShortPathNameW(path.c_str(), nullptr, 0);
  if (needed != 0) {
    std::vector<wchar_t> buffer(needed);
    DWORD n = GetShortPathNameW(path.c_str(), buffer.data(), needed);
    std::string shortAnsi;
    if (n != 0 && n < needed && ToAnsiExactly(std::wstring(buffer.data(), n), &shortAnsi))
      return shortAnsi;
  }
  // No short name on this volume (or none that fits the code page): the reader will not
  // find the file either way, and the lossy form at least shows in its messages.
  return WideToAnsi(path);
}
std::wstring ThreadAnsiToWide(const std::string& bytes) { return CodePageToWide(CP_THREAD_ACP, bytes); }

std::tm LocalTimeNow() {
  std::time_t now = std::time(nullptr);
  std::tm result{};
  localtime_s(&result, &now);
  return result;
}

static void WriteAll(DWORD which, const std::string& bytes) {
  HANDLE h = GetStdHandle(which);
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD n = 0;
    if (!WriteFile(h, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n, nullptr) || n == 0)
      return;
    done += n;
  }
}

void WriteStdout(const std::string& bytes) { WriteAll(STD_OUTPUT_HANDLE, bytes); }
void WriteStderr(const std::string& bytes) { WriteAll(STD_ERROR_HANDLE, bytes); }

void ExitProcessNow(int code) {
  std::fflush(nullptr);
  // TerminateProcess skips the C runtime's exit handlers, which would otherwise run while
  // the update worker may still be inside them.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
  ExitProcess(static_cast<UINT>(code));
}

unsigned long ProcessId() { return GetCurrentProcessId(); }

bool RandomBytes(void* out, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(out);
  while (size > 0) {
    ULONG chunk = size > 0x10000000u ? 0x10000000u : static_cast<ULONG>(size);
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) return false;
    bytes += chunk;
    size -= chunk;
  }
  return true;
}

bool ProcessIsRunning(unsigned long pid) {
  if (pid == 0) return false;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;  // there, but not ours
  DWORD code = 0;
  bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  CloseHandle(process);
  return running;
}

}  // namespace platform
