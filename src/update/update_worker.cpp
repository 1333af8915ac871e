#include "update/update_worker.h"

#include <cstring>
#include <cwctype>

#include "diagnostics/log.h"
#include "javahost/jvm_location.h"
#include "platform/atomic_file.h"
#include "platform/platform.h"
#include "shell/launch_state.h"
#include "update/fetch_buffer.h"
#include "update/local_config.h"
#include "update/md5_checksum.h"
#include "update/runtime_libs.h"

namespace {

// update.txt as the worker reads it: the bytes up to the first zero byte in the thread's
// ANSI code page, white space removed at both ends, A to Z lowered.
std::wstring ProcessVersionText(const FetchBuffer& buffer) {
  std::string bytes;
  if (buffer.data) bytes.assign(reinterpret_cast<const char*>(buffer.data.get()));
  std::wstring text = platform::ThreadAnsiToWide(bytes);
  size_t begin = 0, end = text.size();
  while (begin < end && std::iswspace(text[begin])) ++begin;
  while (end > begin && std::iswspace(text[end - 1])) --end;
  text = text.substr(begin, end - begin);
  for (wchar_t& c : text) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return text;
}

// Empty (no package published) or an MD5 as 32 hex digits; anything else, such as a
// captive portal's page answered with 200, is not a version file.
bool IsVersionText(const std::wstring& text) {
  if (text.empty()) return true;
  if (text.size() != 32) return false;
  for (wchar_t c : text) {
    if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) return false;
  }
  return true;
}

// Up to three attempts, as for any fetch; an attempt whose bytes do not hash to the
// published MD5 (changed in transit, cut short by a proxy) counts as failed.
bool FetchPackage(FetchBuffer& buffer, const std::wstring& url, const std::wstring& md5) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (!buffer.HttpFetchOnce(url.c_str())) continue;
    std::wstring got = CMD5Checksum::GetMD5(buffer.data.get(), buffer.length);
    if (got == md5) return true;
    theLog.Write(L"package md5 mismatch: %s from:%s", got, url);
  }
  return false;
}

}  // namespace

std::wstring GetLocalJarMd5() {
  auto state = CurrentLaunchState();
  if (!state) return {};
  platform::File file;
  if (!file.Open(state->JarName(), platform::OpenMode::kReadExclusive)) return {};
  std::optional<std::wstring> md5 = CMD5Checksum::GetMD5(file);
  return md5 ? *md5 : std::wstring();
}

void SelectPackage(const wchar_t* text) {
  if (text == nullptr) return;
  auto state = CurrentLaunchState();
  if (!state) return;
  std::wstring url = state->PackageUrl();
  size_t slash = url.rfind(L'/');
  if (slash == std::wstring::npos) return;
  state->SetPackageUrl(url.substr(0, slash + 1) + text + L".pak");
}

std::uint32_t UpdateThreadProc(void*) {
  // Held for the whole run: the window may end, and drop its own reference, first.
  std::shared_ptr<LaunchState> state = CurrentLaunchState();
  if (!state) return 0;

  if (!PrepareDocumentDir()) {
    state->SetLaunchError(L"创建文档目录出错！");
    return 0;
  }
  theLog.Write(L"curr version: %s", GetProgramVersion());
  if (FindJvmPath() == nullptr) {
    state->SetLaunchError(L"本地JAVA环境出错，请重新重新安装软件！");
    return 0;
  }
  state->SetProgress(10);

  if (!LoadLocalConfig()) {
    state->SetLaunchError(L"找不到本地配置文件！");
    return 0;
  }
  state->SetProgress(20);

  std::wstring localMd5 = GetLocalJarMd5();
  SyncRuntimeLibs(state->LibsUrl());
  state->SetProgress(50);

  FetchBuffer buffer;
  std::wstring versionUrl = state->VersionUrl();
  if (!buffer.HttpFetch(versionUrl.c_str())) {
    state->SetLaunchError(L"下载版本控制文件出错！");
    return 0;
  }
  std::wstring serverMd5 = ProcessVersionText(buffer);
  if (!IsVersionText(serverMd5)) {
    // A page sent in its place can be long: the start is enough to recognise it.
    theLog.Write(L"invalid version text: %s", serverMd5.substr(0, 64));
    state->SetLaunchError(L"下载版本控制文件出错！");
    return 0;
  }
  state->SetProgress(70);

  if (localMd5 == serverMd5) {
    state->SetProgress(100);
    return 0;
  }

  SelectPackage(serverMd5.c_str());
  if (!FetchPackage(buffer, state->PackageUrl(), serverMd5)) {
    state->SetLaunchError(L"下载执行文件出错！");
    return 0;
  }
  state->SetProgress(90);

  // The new jar takes the old one's place in one step: a kill or a power cut at any
  // moment leaves one of the two whole, and a jar that cannot be replaced stays as it was.
  platform::Error err;
  if (!platform::WriteFileAtomically(state->JarName(), buffer.data.get(), buffer.length, &err)) {
    LogException(err);
    state->SetLaunchError(L"写入执行文件出错！");
    return 0;
  }
  state->SetProgress(100);
  return 0;
}
