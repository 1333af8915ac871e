// Where the private Java runtime's VM library lies beside the executable.
#pragma once

#include <optional>
#include <string>

// Full path of the first VM library candidate that exists beside `executablePath`;
// nothing (logged with the first candidate's path) when none does.
std::optional<std::wstring> FindRuntimeLibrary(const std::wstring& executablePath);
