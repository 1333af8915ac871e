// t.log: one timestamped line per call, every byte XOR-ed with the log key, started afresh
// by the first line of each run. Writers on any thread are serialised, and each line goes
// to the end of the file whole: a second launcher that starts while another one still
// writes the file does not empty it, and the two runs' lines follow each other, never
// torn. The log never writes through a link: a symbolic link (or reparse point, or second
// name of another file) in its place is replaced by a new file.
//
// The file's place is set once the working folder is known (StartAt); lines written before
// that have no file to go to and are dropped.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "diagnostics/format.h"
#include "platform/platform.h"

class ILog {
 public:
  virtual ~ILog() = default;
  virtual void SetLevel(int level) = 0;
  virtual void SetTag(const wchar_t* tag) = 0;
};

class Log : public ILog {
 public:
  explicit Log(std::uint8_t key = 0);
  void SetLevel(int) override {}
  void SetTag(const wchar_t*) override {}

  template <typename... Args>
  void Write(const wchar_t* format, const Args&... args) {
    WriteLine(format == nullptr ? std::wstring(L"NULL")
                                : diagnostics::FormatWide(format, {diagnostics::FormatArg(args)...}));
  }

  // The plain text of a line as it goes to the file before conversion and scrambling:
  // timestamp, message and CR LF (dropped when the line is longer than the log allows).
  static std::wstring ComposeLine(const std::tm& when, const std::wstring& message);

  // The run's log file from now on: the next line starts it afresh. Calling it again (a
  // new run in the same process) closes the previous file.
  void StartAt(std::wstring path);

 private:
  void WriteLine(const std::wstring& message);
  // Opens the run's file at its first line: afresh when no other run writes it.
  void OpenForRun();

  std::mutex mutex_;
  std::wstring path_;
  std::uint8_t key_;
  bool opened_ = false;
  platform::File file_;
};

// The process's one log. It is never destroyed: the update worker may still write while
// the process ends, and every line has already reached the system when Write returns.
extern Log& theLog;

// "exception:%s" with the system's message for a failed platform call.
void LogException(const platform::Error& error);

