// Config.ini beside the executable: one line, the URL of the main jar on the vendor's
// server, and the server addresses derived from it.
#pragma once

#include <optional>
#include <string>

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

// The first line of the file (up to 1024 bytes). Nothing when it cannot be opened or
// read; the system's reason is logged.
std::optional<std::wstring> ReadConfigLine(const std::wstring& configPath);
