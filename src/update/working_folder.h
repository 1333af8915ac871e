// The per-user working folder under Documents that holds the jar, the runtime libraries
// and t.log.
#pragma once

#include <optional>
#include <string>

// The working folder's name for an executable path: the folder that holds the
// executable when its name contains the product word, else "<word>-<name>", and the
// word alone for an executable at the root or a path without separators.
std::wstring WorkingFolderName(const std::wstring& exePath);

// Creates the working folder inside `documentsFolder`, with every missing folder above it,
// and returns its full path; nothing when there is no Documents folder or the working
// folder cannot be made (something else stands in its place).
std::optional<std::wstring> PrepareWorkingFolder(const std::wstring& documentsFolder,
                                                 const std::wstring& exePath);
