// Zip archives built in memory by the tests: stored (uncompressed) entries with correct
// checksums, in the variations that real writers produce. Python's zipfile makes others
// (make_zip_samples.py), so that the check is not only held against this writer.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zip_bytes {

using Entries = std::vector<std::pair<std::string, std::string>>;  // name, content

struct Options {
  std::string comment;  // the archive comment
  // Bytes before the archive, its offsets still counted from its own start, as
  // `cat stub app.jar > app` leaves them.
  std::string prefix;
  // A zip64 end record and locator, the end record's own fields all ones.
  bool zip64 = false;
  // Every entry's DOS time (low 16 bits) and date (high 16 bits): 1980-01-01 00:00.
  std::uint32_t dosTime = 0x00210000;
};

inline std::uint32_t Crc32(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320 & (0u - (crc & 1)));
  }
  return ~crc;
}

inline void Put(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

inline std::string Zip(const Entries& entries, const Options& options = {}) {
  std::string archive, directory;
  for (const auto& [name, content] : entries) {
    std::uint64_t local = archive.size();
    std::uint32_t crc = Crc32(content);
    // Local file header.
    Put(archive, 0x04034b50, 4);
    Put(archive, 20, 2);  // version needed
    Put(archive, 0, 2);   // flags
    Put(archive, 0, 2);   // stored
    Put(archive, options.dosTime, 4);  // time and date
    Put(archive, crc, 4);
    Put(archive, content.size(), 4);
    Put(archive, content.size(), 4);
    Put(archive, name.size(), 2);
    Put(archive, 0, 2);
    archive += name;
    archive += content;
    // Central file header.
    Put(directory, 0x02014b50, 4);
    Put(directory, 20, 2);  // made by
    Put(directory, 20, 2);  // needed
    Put(directory, 0, 2);
    Put(directory, 0, 2);
    Put(directory, options.dosTime, 4);
    Put(directory, crc, 4);
    Put(directory, content.size(), 4);
    Put(directory, content.size(), 4);
    Put(directory, name.size(), 2);
    Put(directory, 0, 2);  // extra
    Put(directory, 0, 2);  // comment
    Put(directory, 0, 2);  // disk
    Put(directory, 0, 2);  // internal attributes
    Put(directory, 0, 4);  // external attributes
    Put(directory, local, 4);
    directory += name;
  }
  std::uint64_t offset = archive.size();
  archive += directory;
  if (options.zip64) {
    std::uint64_t record = archive.size();
    Put(archive, 0x06064b50, 4);
    Put(archive, 44, 8);  // the record's size after this field
    Put(archive, 45, 2);
    Put(archive, 45, 2);
    Put(archive, 0, 4);
    Put(archive, 0, 4);
    Put(archive, entries.size(), 8);
    Put(archive, entries.size(), 8);
    Put(archive, directory.size(), 8);
    Put(archive, offset, 8);
    Put(archive, 0x07064b50, 4);
    Put(archive, 0, 4);
    Put(archive, record, 8);
    Put(archive, 1, 4);
  }
  Put(archive, 0x06054b50, 4);
  Put(archive, options.zip64 ? 0xFFFF : 0, 2);
  Put(archive, options.zip64 ? 0xFFFF : 0, 2);
  Put(archive, options.zip64 ? 0xFFFF : entries.size() & 0xFFFF, 2);
  Put(archive, options.zip64 ? 0xFFFF : entries.size() & 0xFFFF, 2);
  Put(archive, options.zip64 ? 0xFFFFFFFF : directory.size(), 4);
  Put(archive, options.zip64 ? 0xFFFFFFFF : offset, 4);
  Put(archive, options.comment.size(), 2);
  archive += options.comment;
  return options.prefix + archive;
}

// A small library as a jar: a manifest and one class file's worth of bytes.
inline std::string Jar(const std::string& content) {
  return Zip({{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\n\r\n"}, {"lib/Lib.class", content}});
}

}  // namespace zip_bytes
