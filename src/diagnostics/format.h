// printf-style formatting of wide text with type-checked arguments: the launcher's log
// formats and captions ("start get url: %s", "%d%%") stay as written, while a wide string
// can never be read as an int or run past its argument list.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace diagnostics {

class FormatArg {
 public:
  FormatArg(const std::wstring& s) : text_(s.c_str()), isText_(true) {}
  FormatArg(const wchar_t* s) : text_(s), isText_(true) {}
  FormatArg(int v) : number_(v) {}
  FormatArg(long v) : number_(v) {}
  FormatArg(long long v) : number_(v) {}
  FormatArg(unsigned v) : number_(v) {}
  FormatArg(unsigned long v) : number_(static_cast<long long>(v)) {}
  FormatArg(unsigned long long v) : number_(static_cast<long long>(v)) {}

  bool IsText() const { return isText_; }
  const wchar_t* Text() const { return text_ ? text_ : L"(null)"; }
  long long Number() const { return number_; }

 private:
  const wchar_t* text_ = nullptr;
  long long number_ = 0;
  bool isText_ = false;
};

// Supports %s (wide text), %d %i %u %x %c with the flags '-' and '0' and a width, and %%.
// A conversion without a matching argument, or of the wrong kind, prints as if it were
// text of the argument ("%d" of a string prints the string); a missing argument prints
// nothing. Unknown conversions are copied as they stand.
std::wstring FormatWide(const wchar_t* format, std::initializer_list<FormatArg> args);

}  // namespace diagnostics
