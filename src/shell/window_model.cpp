#include "shell/window_model.h"

#include "launch/user_texts.h"

namespace {

constexpr std::uint32_t kTicksPerFrame = 10;
constexpr const wchar_t* kSpinnerFrames[8] = {L"--", L"\\", L"|", L"/", L"--", L"\\", L"|", L"/"};
constexpr std::uint32_t kTicksPerTurn = kTicksPerFrame * 8;

constexpr int kBarLeft = 10;
constexpr int kBarTop = 0;
constexpr int kBarFullWidth = 640;
constexpr int kBarBottom = 50;

}  // namespace

WindowModel::WindowModel(std::shared_ptr<LaunchState> state, std::uint64_t spinnerStart)
    : state_(std::move(state)),
      spinnerTicks_(static_cast<std::uint32_t>(spinnerStart % kTicksPerTurn)) {}

WindowModel::TickResult WindowModel::Tick() {
  TickResult result;
  if (ended_) return result;

  // The error first: an error always comes with a target of 100, and it must win over a
  // launch however close the shown percentage already is.
  if (std::optional<UpdateFailure> failure = state_->Failure()) {
    ended_ = true;
    result.step = Step::kShowError;
    result.stopTimer = true;
    result.errorText = user_texts::ForUpdateFailure(*failure);
    return result;
  }

  if (shown_ < state_->Progress()) {
    shown_ += 2;
    if (shown_ >= 100) {
      shown_ = 100;
      result.stopTimer = true;
    }
  }

  spinnerTicks_ = (spinnerTicks_ + 1) % kTicksPerTurn;
  result.caption = Caption(shown_, kSpinnerFrames[spinnerTicks_ / kTicksPerFrame]);
  result.step = Step::kAnimate;

  if (shown_ == 100) {
    ended_ = true;
    // The 100 that was just read publishes every text written before it: an error that
    // slipped in after the check above is seen here and shown instead of launching.
    if (std::optional<UpdateFailure> failure = state_->Failure()) {
      result.step = Step::kShowError;
      result.errorText = user_texts::ForUpdateFailure(*failure);
      result.caption.clear();
    } else {
      result.step = Step::kLaunch;
    }
  }
  return result;
}

BarRect WindowModel::BarFor(int shownProgress) {
  return BarRect{kBarLeft, kBarTop, kBarLeft + shownProgress * kBarFullWidth / 100, kBarBottom};
}

const wchar_t* WindowModel::SpinnerFrame(std::uint64_t tick) {
  return kSpinnerFrames[(tick / kTicksPerFrame) % 8];
}

std::wstring WindowModel::Caption(int shownProgress, const wchar_t* frame) {
  return user_texts::ProgressCaption(shownProgress, frame);
}
