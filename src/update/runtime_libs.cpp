#include "update/runtime_libs.h"

#include <cwctype>
#include <mutex>
#include <set>

#include "branding.h"
#include "diagnostics/log.h"
#include "platform/atomic_file.h"
#include "platform/platform.h"
#include "shell/launch_state.h"
#include "update/fetch_buffer.h"

namespace {

std::mutex baseUrlMutex;
std::wstring baseUrlOverride;

std::wstring Trim(const std::wstring& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && std::iswspace(text[begin])) ++begin;
  while (end > begin && std::iswspace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// The entry as a path of this platform, relative to the working folder.
std::wstring LocalPath(const std::wstring& entry) {
  std::wstring path = entry;
  for (wchar_t& c : path) {
    if (c == L'/') c = platform::kPathSeparator;
  }
  return path;
}

bool IsPresent(const std::wstring& path) {
  // A library that the running application holds open is still there.
  platform::File file;
  return file.Open(path, platform::OpenMode::kReadShared);
}

}  // namespace

bool IsSafeLibEntry(const std::wstring& entry) {
  if (entry.empty() || entry.front() == L'/') return false;
  for (wchar_t c : entry) {
    // ':' also ends a class-path element on Linux and names a stream or a drive on Windows.
    if (c == L'\\' || c == L':' || c < 0x20 || (c >= 0x7F && c <= 0x9F)) return false;
  }
  size_t start = 0;
  for (;;) {
    size_t slash = entry.find(L'/', start);
    std::wstring part = entry.substr(start, slash == std::wstring::npos ? std::wstring::npos : slash - start);
    if (part == L"..") return false;
    if (slash == std::wstring::npos) break;
    start = slash + 1;
  }
  // The last part names the file itself.
  return entry.back() != L'/';
}

LibList ParseLibList(const std::wstring& text) {
  LibList list;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(L';', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring entry = Trim(text.substr(start, end - start));
    if (!entry.empty()) (IsSafeLibEntry(entry) ? list.accepted : list.rejected).push_back(entry);
    start = end + 1;
  }
  return list;
}

std::wstring RuntimeBaseUrl() {
  std::lock_guard<std::mutex> lock(baseUrlMutex);
  return baseUrlOverride.empty() ? std::wstring(branding::kRuntimeBaseUrl) : baseUrlOverride;
}

void SetRuntimeBaseUrlForTesting(const std::wstring& url) {
  std::lock_guard<std::mutex> lock(baseUrlMutex);
  baseUrlOverride = url;
}

void SyncRuntimeLibs(const std::wstring& libsUrl) {
  FetchBuffer buffer;
  if (!buffer.HttpFetchOnce(libsUrl.c_str())) return;
  std::wstring text = buffer.AsText();
  if (text.empty()) return;

  LibList list = ParseLibList(text);
  for (const std::wstring& entry : list.rejected) theLog.Write(L"skip unsafe lib entry: %s", entry);

  std::wstring libText;
  for (const std::wstring& entry : list.accepted) {
    if (!libText.empty()) libText += L';';
    libText += entry;
  }
  theLog.Write(L"set lib text:%s", libText);
  if (auto state = CurrentLaunchState()) state->SetLibText(libText.c_str());

  const std::wstring baseUrl = RuntimeBaseUrl();
  std::set<std::wstring> handled;  // an entry listed twice costs one download at most
  for (const std::wstring& entry : list.accepted) {
    if (!handled.insert(entry).second) continue;
    std::wstring path = LocalPath(entry);
    if (IsPresent(path)) continue;
    if (size_t cut = platform::LastPathSeparator(path); cut != std::wstring::npos)
      platform::MakeDirectories(path.substr(0, cut));
    std::wstring url = baseUrl + entry;
    if (!buffer.HttpFetch(url.c_str())) continue;
    // A half-written library must never count as present at the next start.
    platform::Error err;
    if (!platform::WriteFileAtomically(path, buffer.data.get(), buffer.length, &err)) {
      LogException(err);
      continue;
    }
    theLog.Write(L"download file %s, from %s", entry, url);
  }
}
