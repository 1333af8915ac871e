// The launcher's own version as the log shows it at every start.
#pragma once

#include <string>

// The product version as "a.b.c.d", empty when the executable carries none.
std::wstring ProgramVersionText();
