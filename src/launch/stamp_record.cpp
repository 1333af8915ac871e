#include "launch/stamp_record.h"

#include "base/decimal.h"
#include "platform/atomic_file.h"

namespace launch {
namespace {

// Records are a few hundred bytes; anything larger is not one of them.
constexpr std::size_t kRecordRoom = 4096;
constexpr char kEndLine[] = "end";

bool IsValueText(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) return false;
  return true;
}

}  // namespace

bool StampIsSettled(const platform::FileStamp& stamp, std::int64_t takenAt) {
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

void StampRecord::SetStamp(const std::string& name, const platform::FileStamp& stamp) {
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
  if (!text) return std::nullopt;
  return base::ParseSigned(*text);
}

std::optional<platform::FileStamp> StampRecord::GetStamp(const std::string& name) const {
  std::optional<std::string> text = Get(name);
  if (!text) return std::nullopt;
  std::vector<std::string> fields;
  for (std::size_t start = 0; start <= text->size();) {
    std::size_t end = text->find(' ', start);
    if (end == std::string::npos) end = text->size();
    fields.push_back(text->substr(start, end - start));
    start = end + 1;
  }
  if (fields.size() != 5) return std::nullopt;
  std::optional<std::int64_t> size = base::ParseSigned(fields[0]), modified = base::ParseSigned(fields[1]),
                              changed = base::ParseSigned(fields[2]);
  // Volume serials and file indexes are unsigned and may use all 64 bits.
  std::optional<std::uint64_t> volume = base::ParseUnsigned(fields[3]), fileId = base::ParseUnsigned(fields[4]);
  if (!size || !modified || !changed || !volume || !fileId) return std::nullopt;
  platform::FileStamp stamp;
  stamp.size = *size;
  stamp.modified = *modified;
  stamp.changed = *changed;
  stamp.volume = *volume;
  stamp.fileId = *fileId;
  return stamp;
}

bool StampRecord::Write(const std::wstring& path) const {
  std::string text = kind_ + "\n";
  for (const auto& entry : values_) {
    if (!IsValueText(entry.first) || !IsValueText(entry.second)) return false;
    text += entry.first + " " + entry.second + "\n";
  }
  text += std::string(kEndLine) + "\n";
  return platform::WriteFileAtomically(path, text.data(), text.size());
}

bool StampRecord::Read(const std::wstring& path) {
  values_.clear();
  std::string text;
  if (!platform::ReadWholeFile(path, kRecordRoom, &text)) return false;

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

RecordVouches CheckRecord(const std::wstring& path, const std::vector<StampedFile>& files, StampRecord* record) {
  if (!record->Read(path)) return RecordVouches::kNothing;
  std::optional<std::int64_t> takenAt = record->GetNumber("taken");
  if (!takenAt) return RecordVouches::kNothing;
  bool settled = true;
  for (const StampedFile& file : files) {
    std::optional<platform::FileStamp> recorded = record->GetStamp(file.name);
    if (!recorded || !(*recorded == file.stamp)) return RecordVouches::kNothing;
    settled = settled && StampIsSettled(file.stamp, *takenAt);
  }
  return settled ? RecordVouches::kSettled : RecordVouches::kUnsettled;
}

void WriteRecord(const std::wstring& path, StampRecord record, std::int64_t takenAt,
                 const std::vector<StampedFile>& files) {
  record.SetNumber("taken", takenAt);
  for (const StampedFile& file : files) record.SetStamp(file.name, file.stamp);
  if (!record.Write(path)) platform::RemoveFile(path);
}

}  // namespace launch
