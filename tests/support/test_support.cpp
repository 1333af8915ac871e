#include "support/test_support.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>

#include "platform/platform.h"

namespace fs = std::filesystem;

namespace testing_support {

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = fs::temp_directory_path() /
          ("launcher-test-" + std::to_string(platform::ProcessId()) + "-" +
           std::to_string(counter++) + "-" + std::to_string(stamp % 1000000));
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

ScopedCurrentDir::ScopedCurrentDir(const fs::path& path) : saved_(fs::current_path()) {
  fs::current_path(path);
}

ScopedCurrentDir::~ScopedCurrentDir() {
  std::error_code ignored;
  fs::current_path(saved_, ignored);
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

fs::path ExecutableDir() { return fs::path(platform::ExecutablePath()).parent_path(); }

std::vector<std::string> DecodeLogLines(const fs::path& path, std::uint8_t key) {
  std::string bytes = ReadBytes(path);
  for (char& c : bytes) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ key);
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(bytes.substr(start, end - start));
  if (start < bytes.size()) lines.push_back(bytes.substr(start));
  return lines;
}

std::string BinaryBody(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned x = seed;
  for (char& c : bytes) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 16);
  }
  return bytes;
}

std::wstring NativeSeparators(std::wstring path) {
  for (wchar_t& c : path)
    if (c == L'\\') c = platform::kPathSeparator;
  return path;
}

}  // namespace testing_support
