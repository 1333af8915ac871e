#include "update/runtime_libs.h"

#include <cstring>
#include <optional>
#include <set>
#include <string_view>

#include "base/text.h"
#include "branding.h"
#include "diagnostics/log.h"
#include "platform/platform.h"
#include "update/download.h"
#include "update/fetch_buffer.h"
#include "update/url_path.h"
#include "update/zip_check.h"

namespace {

// Lower case as Windows compares names: A-Z, and the two letters outside ASCII whose
// capitals are ASCII ones (long s: S, dotless i: I), so that neither spells ".class" or
// "META-INF" past the check.
std::wstring FoldCase(std::wstring text) {
  text = base::AsciiLower(std::move(text));
  for (wchar_t& c : text) {
    if (c == L'\x017F') c = L's';
    else if (c == L'\x0131') c = L'i';
  }
  return text;
}

bool EndsWith(const std::wstring& text, std::wstring_view tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool IsForbiddenCharacter(wchar_t c) {
  // ':' also ends a class-path element on Linux and names a stream or a drive on Windows.
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || std::wcschr(L"\\<>:\"|?*", c) != nullptr;
}

// A name that Windows opens as a device, whatever extension follows: "nul.jar" is the
// null device, and writing a library there would lose it. Windows also counts the
// superscript digits 1-3 as digits of com and lpt ports.
bool IsDeviceName(const std::wstring& part) {
  std::wstring stem = FoldCase(part.substr(0, part.find(L'.')));
  while (!stem.empty() && stem.back() == L' ') stem.pop_back();
  if (stem == L"con" || stem == L"prn" || stem == L"aux" || stem == L"nul" || stem == L"conin$" ||
      stem == L"conout$")
    return true;
  if (stem.size() != 4 || (stem.compare(0, 3, L"com") != 0 && stem.compare(0, 3, L"lpt") != 0)) return false;
  wchar_t digit = stem[3];
  return (digit >= L'1' && digit <= L'9') || digit == L'\x00B9' || digit == L'\x00B2' || digit == L'\x00B3';
}

bool IsSafePart(const std::wstring& part) {
  if (part == L"..") return false;
  // Windows drops a final dot or space from a name ("x.jar." is "x.jar"), so the file
  // would not be the one the entry names; "." and ".." are such parts too.
  if (!part.empty() && (part.back() == L'.' || part.back() == L' ')) return false;
  return !IsDeviceName(part);
}

// A library present in the working folder: it stays as it is. An empty file is no library
// (earlier versions stored empty answers), so it counts as missing.
bool IsPresent(const std::wstring& path) {
  // A library that the running application holds open is still there.
  platform::File file;
  return file.Open(path, platform::OpenMode::kReadShared) && file.Length() > 0;
}

}  // namespace

bool IsSafeLibPath(const std::wstring& entry) {
  if (entry.empty() || entry.front() == L'/' || entry.back() == L'/') return false;
  for (wchar_t c : entry) {
    if (IsForbiddenCharacter(c)) return false;
  }
  for (size_t start = 0;;) {
    size_t slash = entry.find(L'/', start);
    if (!IsSafePart(entry.substr(start, slash == std::wstring::npos ? std::wstring::npos : slash - start)))
      return false;
    if (slash == std::wstring::npos) return true;
    start = slash + 1;
  }
}

bool ShadowsApplication(const std::wstring& entry) {
  std::wstring folded = FoldCase(entry);
  std::wstring first = folded.substr(0, folded.find(L'/'));
  return EndsWith(folded, L".class") || first == L"meta-inf";
}

bool IsSafeLibEntry(const std::wstring& entry) { return IsSafeLibPath(entry) && !ShadowsApplication(entry); }

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

std::wstring LibListText(const std::uint8_t* data, std::size_t length) {
  if (data == nullptr) return {};
  std::string bytes(reinterpret_cast<const char*>(data), length);
  bytes.resize(std::strlen(bytes.c_str()));
  // Notepad saves UTF-8 with a byte order mark.
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  return base::IsValidUtf8(bytes) ? base::Utf8ToWide(bytes) : platform::ThreadAnsiToWide(bytes);
}

bool IsStorableLibrary(const std::wstring& entry, const std::wstring& path) {
  std::wstring folded = FoldCase(entry);
  if (EndsWith(folded, L".jar") || EndsWith(folded, L".zip")) return IsWholeZipFile(path, 0);
  platform::File file;
  return file.Open(path, platform::OpenMode::kReadShared) && file.Length() > 0;
}

void DropUnsafeLibEntry(const std::wstring& entry, const std::wstring& workingFolder) {
  theLog.Write(L"skip unsafe lib entry: %s", entry);
  // What an earlier version stored for it is still on the class path through the working
  // folder itself: it goes. Only entries that stay inside the working folder name a file
  // that may be removed.
  if (!IsSafeLibPath(entry)) return;
  std::wstring path = LibraryPath(workingFolder, entry);
  if (platform::FileExists(path) && platform::RemoveFile(path)) theLog.Write(L"remove lib file: %s", entry);
}

std::wstring LibraryPath(const std::wstring& workingFolder, const std::wstring& entry) {
  return platform::JoinPath(workingFolder, platform::ToNativeSeparators(entry));
}

void InstallMissingLibrary(const std::wstring& entry, const std::wstring& url, const std::wstring& workingFolder,
                           const DownloadOptions& options) {
  std::wstring path = LibraryPath(workingFolder, entry);
  if (IsPresent(path)) return;
  platform::MakeDirectories(platform::FolderOf(path));
  // Streamed beside its place: a library of any size, and never half-written under its
  // own name, where it would count as present at every later start.
  std::optional<DownloadedFile> file = DownloadBeside(url, path, options);
  if (!file) return;
  // An error page, a body cut short by a closed connection or an empty answer: stored,
  // it would count as present at every later start and never be fetched again. Checked
  // here rather than as the download's own check, which would fetch the same page twice
  // more.
  if (!IsStorableLibrary(entry, file->path)) {
    theLog.Write(L"invalid lib file: %s", entry);
    Discard(*file);
    return;
  }
  platform::Error err;
  if (!PutInPlace(*file, path, &err)) {
    LogException(err);
    Discard(*file);
    return;
  }
  theLog.Write(L"download file %s, from %s", entry, url);
}

std::vector<std::wstring> SyncRuntimeLibs(const std::wstring& libsUrl, const std::wstring& runtimeBaseUrl,
                                          const std::wstring& workingFolder) {
  std::vector<std::wstring> classPath;
  FetchBuffer buffer;
  if (!buffer.FetchOnce(libsUrl)) return classPath;
  std::wstring text = LibListText(buffer.data.get(), buffer.length);
  if (text.empty()) return classPath;

  LibList list = ParseLibList(text);
  for (const std::wstring& entry : list.rejected) DropUnsafeLibEntry(entry, workingFolder);

  std::wstring libText;
  for (const std::wstring& entry : list.accepted) {
    if (!libText.empty()) libText += L';';
    libText += entry;
    classPath.push_back(LibraryPath(workingFolder, entry));
  }
  theLog.Write(L"set lib text:%s", libText);

  std::set<std::wstring> handled;  // an entry listed twice costs one download at most
  for (const std::wstring& entry : list.accepted) {
    if (!handled.insert(entry).second) continue;
    DownloadOptions options;
    options.maxBytes = branding::kMaxPackageBytes;
    InstallMissingLibrary(entry, runtimeBaseUrl + PercentEncodePath(entry), workingFolder, options);
  }
  return classPath;
}
