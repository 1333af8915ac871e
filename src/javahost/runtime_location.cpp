#include "javahost/runtime_location.h"

#include "diagnostics/log.h"
#include "platform/jvm_environment.h"
#include "platform/platform.h"

std::optional<std::wstring> FindRuntimeLibrary(const std::wstring& executablePath) {
  if (platform::LastPathSeparator(executablePath) == std::wstring::npos) return std::nullopt;
  std::wstring folder = platform::FolderOf(executablePath);

  std::wstring first;
  for (const std::wstring& candidate : platform::RuntimeLibraryCandidates()) {
    std::wstring path = platform::JoinPath(folder, candidate);
    if (first.empty()) first = path;
    platform::File file;
    if (file.Open(path, platform::OpenMode::kReadShared)) return path;
  }
  theLog.Write(L"check jvm.dll: %s. ret = false", first);
  return std::nullopt;
}
