#include "platform/args.h"

#include "base/text.h"
#include "platform/platform.h"

namespace platform {

std::vector<std::wstring> CommandLineArguments(int argc, char** argv) {
  std::vector<std::wstring> result;
  for (int i = 1; i < argc; ++i) result.push_back(base::Utf8ToWide(argv[i]));
  return result;
}

}  // namespace platform
