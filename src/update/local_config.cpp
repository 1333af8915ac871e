#include "update/local_config.h"

#include <mutex>

#include "branding.h"
#include "diagnostics/log.h"
#include "platform/platform.h"
#include "shell/launch_state.h"

namespace {

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
  if (!folder.empty() && platform::IsPathSeparator(folder.back())) return folder + name;
  return folder + platform::kPathSeparator + name;
}

}  // namespace

std::wstring WorkingFolderName(const std::wstring& exePath) {
  const std::wstring word = branding::kProductWord;
  size_t cut = platform::LastPathSeparator(exePath);
  if (cut == std::wstring::npos) return word;
  std::wstring folderPath = exePath.substr(0, cut);
  size_t nameStart = platform::LastPathSeparator(folderPath);
  // An executable at the root ("C:\Launcher.exe", "/launcher") has no folder name.
  if (nameStart == std::wstring::npos) return word;
  std::wstring name = folderPath.substr(nameStart + 1);
  if (name.find(word) != std::wstring::npos) return name;
  return word + L"-" + name;
}

int PrepareDocumentDir() {
  std::wstring documents = platform::DocumentsFolder();
  if (documents.empty()) return 0;
  std::wstring folder = JoinPath(documents, WorkingFolderName(platform::ExecutablePath()));
  if (!platform::IsDirectory(folder)) platform::MakeDirectory(folder);
  // Not entering it is not fatal: relative names then resolve where the process started.
  platform::ChangeCurrentDirectory(folder);
  return 1;
}

std::wstring GetProgramVersion() {
  static std::mutex mutex;
  static std::wstring cached;
  std::lock_guard<std::mutex> lock(mutex);
  if (cached.empty()) {
    std::uint16_t v[4];
    if (platform::ProgramVersion(v))
      cached = diagnostics::FormatWide(L"%d.%d.%d.%d", {int{v[0]}, int{v[1]}, int{v[2]}, int{v[3]}});
  }
  return cached;
}

std::wstring ConfigFilePath() {
  std::wstring exe = platform::ExecutablePath();
  size_t cut = platform::LastPathSeparator(exe);
  if (cut == std::wstring::npos) return {};
  return exe.substr(0, cut + 1) + L"Config.ini";
}

int LoadLocalConfig() {
  std::wstring path = ConfigFilePath();
  if (path.empty()) return 0;
  return LoadConfigFile(path);
}

int LoadConfigFile(const std::wstring& configPath) {
  platform::File file;
  platform::Error err;
  unsigned char bytes[1024];
  size_t got = 0;
  if (!file.Open(configPath, platform::OpenMode::kReadExclusive, &err) ||
      !file.Read(bytes, sizeof bytes, &got, &err)) {
    LogException(err);
    return 0;
  }
  file.Close();

  std::wstring line;
  for (size_t i = 0; i < got && bytes[i] != '\r' && bytes[i] != '\n'; ++i) {
    // Widened as signed bytes, as earlier releases did: 0x80-0xFF land at U+FF80-U+FFFF.
    line += static_cast<wchar_t>(static_cast<std::uint16_t>(static_cast<signed char>(bytes[i])));
  }

  auto state = CurrentLaunchState();
  state->SetMainUrl(line);
  state->SetPackageUrl(line);
  size_t slash = line.rfind(L'/');
  if (slash == std::wstring::npos) return 1;
  std::wstring folder = line.substr(0, slash + 1);
  state->SetVersionUrl(folder + L"update.txt");
  state->SetLibsUrl(folder + L"libs.txt");
  state->SetJarName(line.substr(slash + 1));
  return 1;
}
