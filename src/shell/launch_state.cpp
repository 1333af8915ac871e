#include "shell/launch_state.h"

#include "platform/platform.h"

namespace {
std::mutex currentMutex;
std::shared_ptr<LaunchState> current;
}  // namespace

std::shared_ptr<LaunchState> LaunchState::Create() {
  auto state = std::make_shared<LaunchState>();
  std::lock_guard<std::mutex> lock(currentMutex);
  current = state;
  return state;
}

std::shared_ptr<LaunchState> CurrentLaunchState() {
  std::lock_guard<std::mutex> lock(currentMutex);
  return current;
}

void LaunchState::SetLaunchError(const wchar_t* text) {
  if (text == nullptr) return;
  Set(errorText_, text);
  SetProgress(100);
}

void LaunchState::SetLibText(const wchar_t* text) {
  if (text == nullptr) return;
  std::wstring value(text);
  for (wchar_t& c : value) {
    if (c == L'/') c = platform::kPathSeparator;
    else if (c == L';') c = platform::kClassPathSeparator;
  }
  Set(libText_, std::move(value));
}

std::wstring LaunchState::GetErrorText() const { return Get(errorText_); }

bool LaunchState::HasError() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !errorText_.empty();
}
