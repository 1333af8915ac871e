#include "platform/args.h"

#include <windows.h>
#include <shellapi.h>

namespace platform {

std::vector<std::wstring> CommandLineArguments(int, char**) {
  std::vector<std::wstring> result;
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  if (words == nullptr) return result;
  for (int i = 1; i < count; ++i) result.emplace_back(words[i]);
  LocalFree(words);
  return result;
}

}  // namespace platform
