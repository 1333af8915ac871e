// The one record that the update run fills and the launcher window reads: the progress,
// and at the end either the failure to show or the plan to launch.
//
// `progress` is atomic: what a progress value covers is written before the value is
// published (release) and read after it was seen (acquire); the outcome is additionally
// guarded by a lock, so an early reader sees a whole old or new value, never a torn one.
// The record is shared-owned: the update thread keeps it alive for as long as it runs,
// even when the window has already gone.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>

#include "launch/launch_plan.h"
#include "launch/outcomes.h"

class LaunchState {
 public:
  // `onProgress` sees every value that SetProgress publishes, in order, on the publishing
  // thread (the launcher passes none).
  explicit LaunchState(std::function<void(int)> onProgress = {}) : onProgress_(std::move(onProgress)) {}
  LaunchState(const LaunchState&) = delete;
  LaunchState& operator=(const LaunchState&) = delete;

  int Progress() const { return progress_.load(std::memory_order_acquire); }
  void SetProgress(int value) {
    progress_.store(value, std::memory_order_release);
    if (onProgress_) onProgress_(value);
  }

  // The end of the update run: the failure or the plan is stored, then progress becomes 100.
  void Fail(UpdateFailure failure);
  void Finish(LaunchPlan plan);

  std::optional<UpdateFailure> Failure() const;
  bool HasFailed() const { return Failure().has_value(); }
  // The plan of a finished run; empty before Finish.
  std::optional<LaunchPlan> Plan() const;

 private:
  std::atomic<int> progress_{0};
  std::function<void(int)> onProgress_;
  mutable std::mutex mutex_;
  std::optional<UpdateFailure> failure_;
  std::optional<LaunchPlan> plan_;
};
