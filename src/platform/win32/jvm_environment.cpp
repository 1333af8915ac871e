#include "platform/jvm_environment.h"

namespace platform {

std::vector<std::wstring> RuntimeLibraryCandidates() {
  // 64-bit runtimes ship no client VM: the server VM is the fallback.
  return {L"java\\bin\\client\\jvm.dll", L"java\\bin\\server\\jvm.dll"};
}

std::wstring PrepareLocaleForJvm() { return {}; }

}  // namespace platform
