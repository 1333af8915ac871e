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

bool WriteFileAtomically(const std::wstring& path, const void* data, std::size_t size, Error* err) {
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
