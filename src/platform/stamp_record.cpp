#include "platform/stamp_record.h"

#include <cerrno>
#include <cstdlib>

#include "platform/atomic_file.h"

namespace platform {
namespace {

// Records are a few hundred bytes; anything larger is not one of them.
constexpr std::size_t kRecordRoom = 4096;
constexpr char kEndLine[] = "end";

bool ParseNumber(const std::string& text, std::int64_t* value) {
  if (text.empty() || text.size() > 20) return false;
  std::size_t start = text[0] == '-' ? 1 : 0;
  if (start == text.size()) return false;
  for (std::size_t i = start; i < text.size(); ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  errno = 0;
  long long parsed = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE) return false;
  *value = parsed;
  return true;
}

// Volume serials and file indexes are unsigned and may use all 64 bits.
bool ParseUnsigned(const std::string& text, std::uint64_t* value) {
  if (text.empty() || text.size() > 20) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  errno = 0;
  unsigned long long parsed = std::strtoull(text.c_str(), nullptr, 10);
  if (errno == ERANGE) return false;
  *value = parsed;
  return true;
}

bool IsValueText(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) return false;
  return true;
}

}  // namespace

bool StampIsSettled(const FileStamp& stamp, std::int64_t takenAt) {
  return stamp.modified <= takenAt - kStampSettleTicks && stamp.changed <= takenAt - kStampSettleTicks;
}

void StampRecord::Set(const std::string& name, const std::string& value) {
  for (auto& entry : values_) {
    if (entry.first == name) {
      entry.second = value;
      return;
    }
  }
  values_.emplace_back(name, value);
}

void StampRecord::SetNumber(const std::string& name, std::int64_t value) { Set(name, std::to_string(value)); }

void StampRecord::SetStamp(const std::string& name, const FileStamp& stamp) {
  Set(name, std::to_string(stamp.size) + " " + std::to_string(stamp.modified) + " " +
                std::to_string(stamp.changed) + " " + std::to_string(stamp.volume) + " " +
                std::to_string(stamp.fileId));
}

std::optional<std::string> StampRecord::Get(const std::string& name) const {
  for (const auto& entry : values_)
    if (entry.first == name) return entry.second;
  return std::nullopt;
}

std::optional<std::int64_t> StampRecord::GetNumber(const std::string& name) const {
  std::optional<std::string> text = Get(name);
  std::int64_t value = 0;
  if (!text || !ParseNumber(*text, &value)) return std::nullopt;
  return value;
}

std::optional<FileStamp> StampRecord::GetStamp(const std::string& name) const {
  std::optional<std::string> text = Get(name);
  if (!text) return std::nullopt;
  std::vector<std::string> fields;
  for (std::size_t start = 0; start <= text->size();) {
    std::size_t end = text->find(' ', start);
    if (end == std::string::npos) end = text->size();
    fields.push_back(text->substr(start, end - start));
    start = end + 1;
  }
  FileStamp stamp;
  if (fields.size() != 5 || !ParseNumber(fields[0], &stamp.size) || !ParseNumber(fields[1], &stamp.modified) ||
      !ParseNumber(fields[2], &stamp.changed) || !ParseUnsigned(fields[3], &stamp.volume) ||
      !ParseUnsigned(fields[4], &stamp.fileId)) {
    return std::nullopt;
  }
  return stamp;
}

bool StampRecord::Write(const std::wstring& path) const {
  std::string text = kind_ + "\n";
  for (const auto& entry : values_) {
    if (!IsValueText(entry.first) || !IsValueText(entry.second)) return false;
    text += entry.first + " " + entry.second + "\n";
  }
  text += std::string(kEndLine) + "\n";
  return WriteFileAtomically(path, text.data(), text.size());
}

bool StampRecord::Read(const std::wstring& path) {
  values_.clear();
  File file;
  if (!file.Open(path, OpenMode::kReadShared)) return false;
  std::string text(kRecordRoom + 1, '\0');
  std::size_t total = 0, got = 0;
  do {
    if (!file.Read(text.data() + total, text.size() - total, &got)) return false;
    total += got;
  } while (got != 0 && total < text.size());
  if (total > kRecordRoom) return false;
  text.resize(total);

  std::vector<std::pair<std::string, std::string>> values;
  std::size_t start = 0;
  bool first = true, ended = false;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos || ended) return false;  // a torn last line, or lines after the end
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (first) {
      if (line != kind_) return false;
      first = false;
    } else if (line == kEndLine) {
      ended = true;
    } else {
      std::size_t space = line.find(' ');
      if (space == std::string::npos || space == 0) return false;
      values.emplace_back(line.substr(0, space), line.substr(space + 1));
    }
  }
  if (!ended) return false;
  values_ = std::move(values);
  return true;
}

}  // namespace platform
