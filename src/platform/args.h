// The command line of a console tool, as wide text whatever the system's code page.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The program's arguments after its name. Windows reads the wide command line (argv holds
// lossy ANSI text there); Linux decodes argv from UTF-8.
std::vector<std::wstring> CommandLineArguments(int argc, char** argv);

}  // namespace platform
