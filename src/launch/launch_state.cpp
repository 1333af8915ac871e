#include "launch/launch_state.h"

void LaunchState::Fail(UpdateFailure failure) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    failure_ = failure;
  }
  SetProgress(100);
}

void LaunchState::Finish(LaunchPlan plan) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    plan_ = std::move(plan);
  }
  SetProgress(100);
}

std::optional<UpdateFailure> LaunchState::Failure() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failure_;
}

std::optional<LaunchPlan> LaunchState::Plan() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return plan_;
}
