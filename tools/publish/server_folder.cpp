#include "server_folder.h"

#include <system_error>
#include <type_traits>

#include "base/text.h"
#include "platform/atomic_file.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace publish {

namespace {

// Templates, so that only the branch of the platform's path type is compiled.
template <typename Path>
Path ToPathOf(const std::wstring& text) {
  if constexpr (std::is_same_v<typename Path::value_type, wchar_t>) return Path(text);
  else return Path(base::WideToUtf8(text));
}
template <typename Path>
std::wstring FromPathOf(const Path& path) {
  if constexpr (std::is_same_v<typename Path::value_type, wchar_t>) return path.native();
  else return base::Utf8ToWide(path.native());
}

base::Failure SystemFailure(const std::wstring& path, const platform::Error& err) {
  return base::MakeFailure(base::Failure::Kind::kSystem, path + L": " + err.message, err.code);
}

}  // namespace

fs::path ToPath(const std::wstring& text) { return ToPathOf<fs::path>(text); }
std::wstring FromPath(const fs::path& path) { return FromPathOf(path); }

base::Result<std::string> ReadWholeFile(const std::wstring& path) {
  std::string bytes;
  platform::Error err;
  if (!platform::ReadWholeFile(path, static_cast<std::size_t>(-1), &bytes, &err)) return SystemFailure(path, err);
  return bytes;
}

std::wstring ServerFolder::PathOf(const std::wstring& relative) const { return FromPath(root_ / ToPath(relative)); }

base::Status ServerFolder::Put(const std::wstring& relative, const std::string& bytes) {
  fs::path target = root_ / ToPath(relative);
  std::error_code ec;
  if (fs::is_regular_file(target, ec)) {
    auto existing = ReadWholeFile(FromPath(target));
    if (existing && *existing == bytes) {
      unchanged_.push_back(relative);
      return {};
    }
  }
  fs::create_directories(target.parent_path(), ec);
  platform::Error err;
  if (!platform::WriteFileAtomically(FromPath(target), bytes.data(), bytes.size(), &err))
    return SystemFailure(FromPath(target), err);
  written_.push_back(relative);
  return {};
}

base::Result<std::optional<std::string>> ServerFolder::Read(const std::wstring& relative) const {
  fs::path target = root_ / ToPath(relative);
  std::error_code ec;
  if (!fs::exists(target, ec)) return std::optional<std::string>();
  auto bytes = ReadWholeFile(FromPath(target));
  if (!bytes) return bytes.TakeFailure();
  return std::optional<std::string>(std::move(*bytes));
}

std::vector<std::wstring> ServerFolder::FileNames(const std::wstring& relative) const {
  std::vector<std::wstring> names;
  std::error_code ec;
  for (fs::directory_iterator it(root_ / ToPath(relative), ec), end; !ec && it != end;
       it.increment(ec)) {
    if (it->is_regular_file(ec)) names.push_back(FromPath(it->path().filename()));
  }
  return names;
}

base::Status ServerFolder::Remove(const std::wstring& relative) {
  fs::path target = root_ / ToPath(relative);
  std::error_code ec;
  if (!fs::remove(target, ec) && ec)
    return base::MakeFailure(base::Failure::Kind::kSystem,
                             FromPath(target) + L": " + base::Utf8ToWide(ec.message()));
  removed_.push_back(relative);
  return {};
}

base::Result<platform::File> ServerFolder::Lock(const std::wstring& relative) const {
  fs::path target = root_ / ToPath(relative);
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  platform::File file;
  platform::Error err;
  if (!file.Open(FromPath(target), platform::OpenMode::kOpenAlwaysShared, &err))
    return SystemFailure(FromPath(target), err);
  if (!file.TryLock(true))
    return base::MakeFailure(base::Failure::Kind::kBusy,
                             L"another publish run holds " + FromPath(target) + L": try again once it has ended");
  return file;
}

}  // namespace publish
