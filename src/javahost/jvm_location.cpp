#include "javahost/jvm_location.h"

#include <mutex>
#include <string>

#include "diagnostics/log.h"
#include "platform/platform.h"

namespace {
std::mutex mutex;
std::wstring foundPath;  // never shrinks once set: FindJvmPath hands out pointers into it
bool found = false;
}  // namespace

const wchar_t* FindJvmPath() {
  std::lock_guard<std::mutex> lock(mutex);
  if (found) return foundPath.c_str();

  std::wstring exe = platform::ExecutablePath();
  size_t cut = platform::LastPathSeparator(exe);
  if (exe.empty() || cut == std::wstring::npos) return nullptr;
  std::wstring folder = exe.substr(0, cut + 1);

  std::wstring first;
  for (const std::wstring& candidate : platform::JvmLibraryCandidates()) {
    std::wstring path = folder + candidate;
    if (first.empty()) first = path;
    platform::File file;
    if (file.Open(path, platform::OpenMode::kReadShared)) {
      foundPath = path;
      found = true;
      return foundPath.c_str();
    }
  }
  theLog.Write(L"check jvm.dll: %s. ret = false", first);
  return nullptr;
}

void ResetJvmPathForTesting() {
  std::lock_guard<std::mutex> lock(mutex);
  found = false;
  foundPath.clear();
}
