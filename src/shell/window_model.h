// What the launcher window shows and does, tick by tick, free of any toolkit. The Win32
// and the GTK front ends own a window and a 5 ms timer; on every timer event they call
// Tick() and carry out what it returns: a new caption and a repaint, a message box, or
// the end of the window and the hand-over to the Java host.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "launch/launch_state.h"

// The bar in client pixels; left == right means no bar.
struct BarRect {
  int left;
  int top;
  int right;
  int bottom;
};

class WindowModel {
 public:
  static constexpr unsigned kTimerId = 1;
  static constexpr unsigned kTimerPeriodMs = 5;
  // Pure blue, as red, green and blue bytes.
  static constexpr std::uint8_t kBarRed = 0, kBarGreen = 0, kBarBlue = 255;

  enum class Step {
    kAnimate,    // show `caption` and repaint; the window goes on
    kShowError,  // show `errorText` in a message box (user_texts::UpdateFailureCaption()),
                 // then end the window
    kLaunch,     // show `caption`, end the window and hand over to the Java host
    kIdle,       // the window has already ended: nothing to do
  };

  struct TickResult {
    Step step = Step::kIdle;
    bool stopTimer = false;
    std::wstring caption;
    std::wstring errorText;
  };

  // `spinnerStart` is the number of ticks already counted (tests start near the wrap).
  explicit WindowModel(std::shared_ptr<LaunchState> state, std::uint64_t spinnerStart = 0);

  // One timer event. After the tick that returned kShowError or kLaunch every further
  // tick returns kIdle, so a late timer event can neither show a second box nor launch twice.
  TickResult Tick();

  int ShownProgress() const { return shown_; }
  BarRect Bar() const { return BarFor(shown_); }

  static BarRect BarFor(int shownProgress);
  // The frame shown in the caption at the given tick count (the first tick is 1).
  static const wchar_t* SpinnerFrame(std::uint64_t tick);
  static std::wstring Caption(int shownProgress, const wchar_t* frame);

 private:
  std::shared_ptr<LaunchState> state_;
  int shown_ = 0;
  // Ticks modulo one full turn of the spinner (8 frames of 10 ticks): the frame sequence
  // runs on unchanged for ever instead of jumping when a counter wraps.
  std::uint32_t spinnerTicks_;
  bool ended_ = false;
};
