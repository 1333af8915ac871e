#include "update/runtime_libs.h"

#include <set>

#include "base/text.h"
#include "diagnostics/log.h"
#include "platform/atomic_file.h"
#include "platform/platform.h"
#include "update/fetch_buffer.h"

namespace {

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
    std::wstring entry = base::Trim(text.substr(start, end - start));
    if (!entry.empty()) (IsSafeLibEntry(entry) ? list.accepted : list.rejected).push_back(entry);
    start = end + 1;
  }
  return list;
}

std::vector<std::wstring> SyncRuntimeLibs(const std::wstring& libsUrl, const std::wstring& runtimeBaseUrl,
                                          const std::wstring& workingFolder) {
  std::vector<std::wstring> classPath;
  FetchBuffer buffer;
  if (!buffer.FetchOnce(libsUrl)) return classPath;
  std::wstring text = buffer.AsText();
  if (text.empty()) return classPath;

  LibList list = ParseLibList(text);
  for (const std::wstring& entry : list.rejected) theLog.Write(L"skip unsafe lib entry: %s", entry);

  std::wstring libText;
  for (const std::wstring& entry : list.accepted) {
    if (!libText.empty()) libText += L';';
    libText += entry;
    classPath.push_back(platform::JoinPath(workingFolder, platform::ToNativeSeparators(entry)));
  }
  theLog.Write(L"set lib text:%s", libText);

  std::set<std::wstring> handled;  // an entry listed twice costs one download at most
  for (const std::wstring& entry : list.accepted) {
    if (!handled.insert(entry).second) continue;
    std::wstring path = platform::JoinPath(workingFolder, platform::ToNativeSeparators(entry));
    if (IsPresent(path)) continue;
    platform::MakeDirectories(platform::FolderOf(path));
    std::wstring url = runtimeBaseUrl + entry;
    if (!buffer.Fetch(url)) continue;
    // A half-written library must never count as present at the next start.
    platform::Error err;
    if (!platform::WriteFileAtomically(path, buffer.data.get(), buffer.length, &err)) {
      LogException(err);
      continue;
    }
    theLog.Write(L"download file %s, from %s", entry, url);
  }
  return classPath;
}
