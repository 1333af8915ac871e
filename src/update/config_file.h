// Config.ini beside the executable: one line, the URL of the main jar on the vendor's
// server, and the server addresses derived from it.
#pragma once

#include <string>
#include <variant>

#include "launch/outcomes.h"

struct ServerLocations {
  std::wstring mainUrl;     // the line as written
  std::wstring libsUrl;     // "<folder>libs.txt"; empty when the line has no '/'
  std::wstring versionUrl;  // "<folder>update.txt"; empty when the line has no '/'
  std::wstring jarName;     // the last segment: the stored jar's file name

  // "<folder><md5>.pak"; the line itself when it has no '/'.
  std::wstring PackageUrl(const std::wstring& md5) const;
};

// The addresses that one Config.ini line names.
ServerLocations LocationsFromConfigLine(const std::wstring& line);

// Config.ini's place beside the executable; empty when the path has no folder.
std::wstring ConfigFilePath(const std::wstring& exePath);

// The first line of the file (within its first 1024 bytes), without white space around it:
// an http:// or https:// URL. The file may be plain ASCII, ANSI, UTF-8 with or without a
// byte order mark, or UTF-16 with one, as Notepad saves it. kConfigFile when it cannot be
// opened or read (the system's reason is logged), kConfigContent when the line is no such
// URL (the line is logged).
std::variant<std::wstring, UpdateFailure> ReadConfigLine(const std::wstring& configPath);

// Whether the line names a server by http:// or https:// (either in any case) and a host.
bool IsServerUrl(const std::wstring& line);
