// Relative paths of the vendor's server (libs.txt entries) as they go into a URL.
#pragma once

#include <string>

// The path with every character other than RFC 3986's unreserved ones (A-Z a-z 0-9 - . _ ~)
// written as %XX of its UTF-8 bytes, segment by segment: the '/' between segments stays.
// A name with a space, a '%', a '#' or a non-ASCII character thus reaches the server as
// that very name, whatever the HTTP client would have made of it.
std::wstring PercentEncodePath(const std::wstring& path);
