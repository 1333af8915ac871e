// The working folder under Documents, the launcher's own version and Config.ini.
#pragma once

#include <string>

// The working folder's name for an executable path: the folder that holds the
// executable when its name contains the product word, else "<word>-<name>", and the
// word alone for an executable at the root or a path without separators.
std::wstring WorkingFolderName(const std::wstring& exePath);

// Creates (one level) and enters the working folder. 0 when there is no Documents folder.
int PrepareDocumentDir();

// The product version as "a.b.c.d", empty when the executable carries none.
std::wstring GetProgramVersion();

// Reads the first line of Config.ini beside the executable into the current launch
// state. 0 when the file cannot be opened or read (logged), else 1.
int LoadLocalConfig();

// Same, from the given file (used by LoadLocalConfig and by tests).
int LoadConfigFile(const std::wstring& configPath);

// The path of Config.ini beside the executable, empty when the executable path has none.
std::wstring ConfigFilePath();
