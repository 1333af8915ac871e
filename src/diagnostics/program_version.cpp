#include "diagnostics/program_version.h"

#include "diagnostics/format.h"
#include "platform/platform.h"

std::wstring ProgramVersionText() {
  std::uint16_t v[4];
  if (!platform::ProgramVersion(v)) return {};
  return diagnostics::FormatWide(L"%d.%d.%d.%d", {int{v[0]}, int{v[1]}, int{v[2]}, int{v[3]}});
}
