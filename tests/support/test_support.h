// Shared helpers of the test programs: real files in temporary folders.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::wstring WPath() const { return path_.wstring(); }
  std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Enters a folder for the life of the object.
class ScopedCurrentDir {
 public:
  explicit ScopedCurrentDir(const std::filesystem::path& path);
  ~ScopedCurrentDir();

 private:
  std::filesystem::path saved_;
};

std::string ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);

// The folder of the running test program.
std::filesystem::path ExecutableDir();

// A t.log's bytes XOR-ed back with the key, split at CR LF (the terminators removed).
std::vector<std::string> DecodeLogLines(const std::filesystem::path& path, std::uint8_t key);

// Bytes of every value, zero included: a deterministic body for files and downloads.
std::string BinaryBody(size_t size, unsigned seed = 1);

// Windows paths in the tables of the tests, in the running platform's separators.
std::wstring NativeSeparators(std::wstring path);

}  // namespace testing_support
