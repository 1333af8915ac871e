// The one record that the update worker fills and the launcher window reads.
//
// `progress` is atomic: every string that a progress value covers is written before that
// value is published (release) and read after it was seen (acquire). The strings are
// additionally guarded by a lock, so a reader that looks early gets a whole old or new
// value, never a torn one. The record is shared-owned: the worker keeps it alive for as
// long as it runs, even when the window has already gone.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class LaunchState {
 public:
  LaunchState() = default;
  LaunchState(const LaunchState&) = delete;
  LaunchState& operator=(const LaunchState&) = delete;

  // Creates a record and makes it the process's current one.
  static std::shared_ptr<LaunchState> Create();

  int Progress() const { return progress_.load(std::memory_order_acquire); }
  void SetProgress(int value) {
    progress_.store(value, std::memory_order_release);
    if (progressObserver_) progressObserver_(value);
  }
  // Tests see every value that SetProgress publishes, in order, on the publishing
  // thread. Set it before the worker starts; the launcher sets none.
  void SetProgressObserverForTesting(std::function<void(int)> observer) {
    progressObserver_ = std::move(observer);
  }

  // Null: nothing happens. Otherwise the text is stored, then progress becomes 100.
  void SetLaunchError(const wchar_t* text);
  // Null: nothing happens. Otherwise libText becomes the text with every '/' turned into
  // the platform's path separator and every ';' into its class-path separator.
  void SetLibText(const wchar_t* text);
  std::wstring GetErrorText() const;
  bool HasError() const;

  std::wstring VersionUrl() const { return Get(versionUrl_); }
  std::wstring MainUrl() const { return Get(mainUrl_); }
  std::wstring PackageUrl() const { return Get(packageUrl_); }
  std::wstring LibsUrl() const { return Get(libsUrl_); }
  std::wstring JarName() const { return Get(jarName_); }
  std::wstring LibText() const { return Get(libText_); }

  void SetVersionUrl(std::wstring v) { Set(versionUrl_, std::move(v)); }
  void SetMainUrl(std::wstring v) { Set(mainUrl_, std::move(v)); }
  void SetPackageUrl(std::wstring v) { Set(packageUrl_, std::move(v)); }
  void SetLibsUrl(std::wstring v) { Set(libsUrl_, std::move(v)); }
  void SetJarName(std::wstring v) { Set(jarName_, std::move(v)); }

 private:
  std::wstring Get(const std::wstring& field) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return field;
  }
  void Set(std::wstring& field, std::wstring value) {
    std::lock_guard<std::mutex> lock(mutex_);
    field = std::move(value);
  }

  std::atomic<int> progress_{0};
  std::function<void(int)> progressObserver_;
  mutable std::mutex mutex_;
  std::wstring errorText_;
  std::wstring versionUrl_;
  std::wstring mainUrl_;
  std::wstring packageUrl_;
  std::wstring libsUrl_;
  std::wstring jarName_;
  std::wstring libText_;
};

// The record most recently created (null before the first). Holding the returned pointer
// keeps the record alive.
std::shared_ptr<LaunchState> CurrentLaunchState();
