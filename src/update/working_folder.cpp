#include "update/working_folder.h"

#include "branding.h"
#include "platform/platform.h"

std::wstring WorkingFolderName(const std::wstring& exePath) {
  const std::wstring word = branding::kProductWord;
  std::size_t cut = platform::LastPathSeparator(exePath);
  if (cut == std::wstring::npos) return word;
  std::wstring folderPath = exePath.substr(0, cut);
  // An executable at the root ("C:\Launcher.exe", "/launcher") has no folder name.
  if (platform::LastPathSeparator(folderPath) == std::wstring::npos) return word;
  std::wstring name = platform::FileNameOf(folderPath);
  if (name.find(word) != std::wstring::npos) return name;
  return word + L"-" + name;
}

std::optional<std::wstring> PrepareWorkingFolder(const std::wstring& documentsFolder,
                                                 const std::wstring& exePath) {
  if (documentsFolder.empty()) return std::nullopt;
  std::wstring folder = platform::JoinPath(documentsFolder, WorkingFolderName(exePath));
  // Every missing level is made: a Documents folder that the system names but that does
  // not exist (an XDG setting pointing nowhere, a folder removed by hand) is made too. A
  // file in the folder's place is left alone, and the run then writes nothing anywhere.
  if (!platform::MakeDirectories(folder)) return std::nullopt;
  return folder;
}
