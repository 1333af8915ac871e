#include "platform/atomic_file.h"

#include <atomic>
#include <cstdint>
#include <cwchar>

namespace platform {

std::wstring UniqueSiblingName(const std::wstring& path, const wchar_t* tag) {
  // The random part makes the name one that nobody can prepare a link at beforehand; the
  // counter keeps names apart should the generator ever fail.
  static std::atomic<unsigned> counter{0};
  std::uint8_t random[8] = {};
  if (!RandomBytes(random, sizeof random)) {
    unsigned n = counter.fetch_add(1);
    for (std::size_t i = 0; i < sizeof random; ++i) random[i] = static_cast<std::uint8_t>(n >> (8 * (i % 4)));
  }
  static const wchar_t kHex[] = L"0123456789abcdef";
  wchar_t suffix[64];
  std::swprintf(suffix, 64, L".%ls-%lu-", tag, ProcessId());
  std::wstring name = path + suffix;
  for (std::uint8_t byte : random) {
    name += kHex[byte >> 4];
    name += kHex[byte & 0xF];
  }
  return name;
}

void RemoveStaleSiblings(const std::wstring& path, const wchar_t* tag) {
  std::wstring folder = FolderOf(path);
  std::wstring prefix = FileNameOf(path) + L"." + tag + L"-";
  auto isDigit = [](wchar_t c) { return c >= L'0' && c <= L'9'; };
  auto isHex = [&](wchar_t c) { return isDigit(c) || (c >= L'a' && c <= L'f'); };
  for (const std::wstring& name : ListDirectory(folder)) {
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    // "<pid>-<random hex>" (earlier versions: "<pid>-<counter>", digits only)
    std::size_t dash = name.find(L'-', prefix.size());
    if (dash == std::wstring::npos || dash == prefix.size() || dash + 1 == name.size()) continue;
    bool valid = dash - prefix.size() <= 10;
    unsigned long pid = 0;
    for (std::size_t i = prefix.size(); i < name.size() && valid; ++i) {
      if (i == dash) continue;
      if (i < dash ? !isDigit(name[i]) : !isHex(name[i])) valid = false;
      else if (i < dash) pid = pid * 10 + static_cast<unsigned long>(name[i] - L'0');
    }
    if (!valid) continue;
    if (pid == ProcessId() || ProcessIsRunning(pid)) continue;
    RemoveFile(JoinPath(folder, name));
  }
}

bool WriteFileAtomically(const std::wstring& path, const void* data, std::size_t size, Error* err) {
  // Whatever an earlier, killed run left half-written beside the file goes first.
  RemoveStaleSiblings(path, L"part");
  std::wstring temp = UniqueSiblingName(path, L"part");
  File file;
  if (!file.Open(temp, OpenMode::kCreateNewExclusive, err)) return false;
  bool ok = file.Write(data, size, err) && file.FlushToDisk(err);
  file.Close();
  if (ok) ok = RenameOver(temp, path, err);
  if (!ok) RemoveFile(temp);
  return ok;
}

}  // namespace platform
