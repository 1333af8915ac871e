#include "javahost/temp_jar.h"

#include "branding.h"
#include "diagnostics/log.h"
#include "platform/atomic_file.h"
#include "platform/platform.h"

bool ReadJarFile(const std::wstring& fileName, std::vector<std::uint8_t>* bytes) {
  platform::File file;
  if (!file.Open(fileName, platform::OpenMode::kReadExclusive)) return false;
  std::int64_t length = file.Length();
  if (length <= 0) return false;
  bytes->assign(static_cast<std::size_t>(length), 0);
  std::size_t done = 0;
  while (done < bytes->size()) {
    std::size_t got = 0;
    if (!file.Read(bytes->data() + done, bytes->size() - done, &got) || got == 0) {
      bytes->clear();  // a jar cut short would fail later in ways far harder to tell
      return false;
    }
    done += got;
  }
  for (std::uint8_t& b : *bytes) b ^= branding::kJarKey;
  return true;
}

std::wstring TempJarPath() {
  std::wstring folder = platform::LocalAppDataFolder();
  if (folder.empty()) {
    theLog.Write(L"SHGetSpecialFolderLocation fail !");
    return {};
  }
  // The folder may not exist yet (a new Linux account has no ~/.local/share).
  platform::MakeDirectories(folder);
  std::wstring path = platform::JoinPath(folder, L"_Temp");
  theLog.Write(L"%s", path);
  return path;
}

std::wstring WriteJarReplacing(const std::wstring& path, const std::uint8_t* bytes, std::size_t length) {
  // Jars written beside "_Temp" by copies that have ended are no longer in use.
  platform::RemoveStaleSiblings(path, L"run");
  if (platform::WriteFileAtomically(path, bytes, length)) return path;
  std::wstring beside = platform::UniqueSiblingName(path, L"run");
  platform::File file;
  if (file.Open(beside, platform::OpenMode::kWriteCreateExclusive) && file.Write(bytes, length)) {
    return beside;
  }
  file.Close();
  platform::RemoveFile(beside);
  return {};
}

std::wstring WriteTempJar(const std::uint8_t* bytes, std::size_t length) {
  std::wstring path = TempJarPath();
  theLog.Write(L"write jar to:%s", path);
  if (path.empty()) return path;
  std::wstring written = WriteJarReplacing(path, bytes, length);
  if (!written.empty() && written != path) {
    path = written;
    theLog.Write(L"write jar to:%s", path);
  }
  return path;
}
