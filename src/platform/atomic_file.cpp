#include "platform/atomic_file.h"

#include <atomic>
#include <cwchar>

namespace platform {

std::wstring UniqueSiblingName(const std::wstring& path, const wchar_t* tag) {
  static std::atomic<unsigned> counter{0};
  wchar_t suffix[64];
  std::swprintf(suffix, 64, L".%ls-%lu-%u", tag, ProcessId(), counter.fetch_add(1));
  return path + suffix;
}

void RemoveStaleSiblings(const std::wstring& path, const wchar_t* tag) {
  std::wstring folder = FolderOf(path);
  std::wstring prefix = FileNameOf(path) + L"." + tag + L"-";
  for (const std::wstring& name : ListDirectory(folder)) {
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    // "<pid>-<counter>", digits only
    std::size_t dash = name.find(L'-', prefix.size());
    if (dash == std::wstring::npos || dash == prefix.size() || dash + 1 == name.size()) continue;
    bool digits = true;
    unsigned long pid = 0;
    for (std::size_t i = prefix.size(); i < name.size() && digits; ++i) {
      if (i == dash) continue;
      if (name[i] < L'0' || name[i] > L'9') digits = false;
      else if (i < dash) pid = pid * 10 + static_cast<unsigned long>(name[i] - L'0');
    }
    if (!digits || dash - prefix.size() > 10) continue;
    if (pid == ProcessId() || ProcessIsRunning(pid)) continue;
    RemoveFile(JoinPath(folder, name));
  }
}

bool WriteFileAtomically(const std::wstring& path, const void* data, std::size_t size, Error* err) {
  // Whatever an earlier, killed run left half-written beside the file goes first.
  RemoveStaleSiblings(path, L"part");
  std::wstring temp = UniqueSiblingName(path, L"part");
  File file;
  if (!file.Open(temp, OpenMode::kWriteCreateExclusive, err)) return false;
  bool ok = file.Write(data, size, err) && file.FlushToDisk(err);
  file.Close();
  if (ok) ok = RenameOver(temp, path, err);
  if (!ok) RemoveFile(temp);
  return ok;
}

}  // namespace platform
