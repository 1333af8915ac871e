#include "diagnostics/log.h"

#include <chrono>
#include <string>
#include <thread>

#include "branding.h"

namespace {
// The line as the file keeps it: 102,400 characters at most, and a line that takes the
// whole room keeps no terminator.
constexpr size_t kLineRoom = 102400;
constexpr size_t kTerminatedBelow = 102397;
}  // namespace

Log& theLog = *new Log(branding::kLogKey);

Log::Log(std::uint8_t key) : key_(key) {}

std::wstring Log::ComposeLine(const std::tm& when, const std::wstring& message) {
  std::wstring line = diagnostics::FormatWide(
      L"[%d-%02d-%02d %02d:%02d:%02d]",
      {when.tm_year + 1900, when.tm_mon + 1, when.tm_mday, when.tm_hour, when.tm_min, when.tm_sec});
  size_t room = kLineRoom - line.size() - 1;  // the NUL of a C buffer of kLineRoom
  line.append(message, 0, room);
  if (line.size() < kTerminatedBelow) line += L"\r\n";
  return line;
}

void Log::WriteLine(const std::wstring& message) {
  std::wstring line = ComposeLine(platform::LocalTimeNow(), message);
  std::string bytes = platform::WideToAnsi(line);
  for (char& c : bytes) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ key_);

  std::lock_guard<std::mutex> lock(mutex_);
  if (path_.empty()) return;
  if (!opened_) {
    // A file that cannot be opened is not tried again in this run.
    opened_ = true;
    OpenForRun();
  }
  // One write per line, at the end of the file: the system holds the whole line when
  // Write returns, after the lines that another launcher appended meanwhile.
  if (file_.IsOpen() && !file_.Write(bytes.data(), bytes.size())) file_.Close();
}

void Log::OpenForRun() {
  // A link in t.log's place (put there to have the launcher empty another file) is
  // replaced by a file of its own; its target stays as it was.
  if (!file_.Open(path_, platform::OpenMode::kAppendSharedOwnFile)) return;
  // The first line of a run starts the file afresh, unless another launcher is writing it
  // right now: its lines stay, and this run's follow them. Whether another one writes is
  // told by a shared lock that each writing run holds; the gate keeps two runs from
  // deciding at the same moment. A gate that stays taken (a launcher hung in these few
  // steps) costs no more than a second and leaves the file as it is.
  constexpr int kGateSlot = 0;
  constexpr int kWritersSlot = 1;
  bool gate = file_.TryLockSlot(kGateSlot, true);
  for (int wait = 0; !gate && wait < 200; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    gate = file_.TryLockSlot(kGateSlot, true);
  }
  if (gate && file_.TryLockSlot(kWritersSlot, true)) {
    file_.Resize(0);
    file_.UnlockSlot(kWritersSlot);
  }
  file_.TryLockSlot(kWritersSlot, false);
  if (gate) file_.UnlockSlot(kGateSlot);
}

void Log::StartAt(std::wstring path) {
  std::lock_guard<std::mutex> lock(mutex_);
  file_.Close();
  path_ = std::move(path);
  opened_ = false;
}

void LogException(const platform::Error& error) {
  theLog.Write(L"exception:%s", error.message);
}
