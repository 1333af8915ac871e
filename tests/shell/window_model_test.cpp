#include "shell/window_model.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <thread>

#include <memory>

namespace {

using Step = WindowModel::Step;

// What a window would have done over a run of ticks.
struct TickLog {
  std::vector<int> shown;           // after each tick
  std::vector<std::wstring> captions;
  int launches = 0;
  int errorBoxes = 0;
  int launchTick = 0;               // 1-based tick of the launch, 0 if none
  int errorTick = 0;
  int timerStoppedAt = 0;           // first tick that asked to stop the timer
  int ticksAfterStop = 0;           // ticks that did anything after the timer stopped
  std::wstring errorText;
};

// Ticks `count` times; before tick t (1-based) the worker's writes scripted for t happen.
TickLog Drive(int count, const std::map<int, std::function<void(LaunchState&)>>& script,
          int initialProgress) {
  auto state = std::make_shared<LaunchState>();
  state->SetProgress(initialProgress);
  WindowModel model(state);
  TickLog run;
  for (int t = 1; t <= count; ++t) {
    if (auto it = script.find(t); it != script.end()) it->second(*state);
    WindowModel::TickResult r = model.Tick();
    if (run.timerStoppedAt != 0 && r.step != Step::kIdle) ++run.ticksAfterStop;
    if (r.stopTimer && run.timerStoppedAt == 0) run.timerStoppedAt = t;
    if (r.step == Step::kLaunch) {
      ++run.launches;
      run.launchTick = t;
    }
    if (r.step == Step::kShowError) {
      ++run.errorBoxes;
      run.errorTick = t;
      run.errorText = r.errorText;
      EXPECT_TRUE(r.stopTimer) << "tick " << t;
    }
    run.shown.push_back(model.ShownProgress());
    run.captions.push_back(r.caption);
  }
  return run;
}

auto Progress(int p) {
  return [p](LaunchState& s) { s.SetProgress(p); };
}
auto Error(UpdateFailure failure) {
  return [failure](LaunchState& s) { s.Fail(failure); };
}

}  // namespace

TEST(WindowModel, TickTable) {
  struct Case {
    const char* name;
    int initialProgress;
    std::map<int, std::function<void(LaunchState&)>> script;
    int ticks;
    int finalShown;
    int launchTick;  // 0: no launch
    int errorTick;   // 0: no message box
  } cases[] = {
      {"target stays at 50", 50, {}, 2000, 50, 0, 0},
      {"100 from the start launches in tick 50", 100, {}, 2000, 100, 50, 0},
      {"worker's steps 10 20 50 70 100", 0,
       {{1, Progress(10)}, {3, Progress(20)}, {30, Progress(50)}, {200, Progress(70)},
        {400, Progress(100)}},
       2000, 100, 414, 0},
      {"70 straight to 100 (jar current)", 70, {{10, Progress(100)}}, 2000, 100, 50, 0},
      {"error while climbing", 100, {{21, Error(UpdateFailure::kPackageDownload)}}, 2000, 40, 0, 21},
      {"error when 98 is shown beats the launch", 100, {{50, Error(UpdateFailure::kVersionFile)}},
       2000, 98, 0, 50},
      {"error before the first tick", 0, {{1, Error(UpdateFailure::kVersionFile)}}, 2000, 0, 0, 1},
      {"nothing from the worker", 0, {}, 2000, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TickLog run = Drive(c.ticks, c.script, c.initialProgress);
    EXPECT_EQ(run.shown.back(), c.finalShown);
    EXPECT_EQ(run.launches, c.launchTick ? 1 : 0);
    EXPECT_EQ(run.launchTick, c.launchTick);
    EXPECT_EQ(run.errorBoxes, c.errorTick ? 1 : 0);
    EXPECT_EQ(run.errorTick, c.errorTick);
    EXPECT_EQ(run.ticksAfterStop, 0);
    if (c.launchTick || c.errorTick)
      EXPECT_EQ(run.timerStoppedAt, c.launchTick ? c.launchTick : c.errorTick);
    else
      EXPECT_EQ(run.timerStoppedAt, 0);
    // Shown: even, never down, never more than 2 a tick.
    int before = 0;
    for (int shown : run.shown) {
      EXPECT_EQ(shown % 2, 0);
      EXPECT_GE(shown, before);
      EXPECT_LE(shown - before, 2);
      before = shown;
    }
  }
}

TEST(WindowModel, ErrorBoxShowsTheFailuresText) {
  TickLog run = Drive(100, {{5, Error(UpdateFailure::kJavaRuntime)}}, 0);
  EXPECT_EQ(run.errorText, L"本地JAVA环境出错，请重新重新安装软件！");
  // The error tick changes no caption.
  EXPECT_TRUE(run.captions[4].empty());
}

TEST(WindowModel, CaptionAndSpinner) {
  TickLog run = Drive(85, {}, 100);
  EXPECT_EQ(run.captions[0], L"正在检查更新：2%   --");
  EXPECT_EQ(run.captions[49], L"正在检查更新：100%   \\");
  const struct {
    int tick;
    const wchar_t* frame;
  } frames[] = {{1, L"--"}, {9, L"--"}, {10, L"\\"}, {19, L"\\"}, {20, L"|"},
                {29, L"|"}, {30, L"/"}, {39, L"/"}, {40, L"--"}, {79, L"/"}, {80, L"--"}};
  for (const auto& f : frames) {
    EXPECT_EQ(WindowModel::SpinnerFrame(f.tick), std::wstring(f.frame)) << f.tick;
  }
  // The caption of a target that waits at 50 still turns the spinner.
  TickLog waiting = Drive(45, {}, 50);
  EXPECT_EQ(waiting.captions[29], L"正在检查更新：50%   /");
  EXPECT_EQ(waiting.captions[39], L"正在检查更新：50%   --");
}

TEST(WindowModel, SpinnerRunsOnAcrossTheCounterWrap) {
  // Where a 32-bit signed and an unsigned counter would overflow.
  for (std::uint64_t start : {(1ull << 31) - 5, (1ull << 32) - 5, (1ull << 63) - 5}) {
    auto state = std::make_shared<LaunchState>();
    WindowModel model(state, start);
    for (std::uint64_t i = 1; i <= 40; ++i) {
      std::uint64_t tick = start + i;
      std::wstring expected = WindowModel::Caption(0, WindowModel::SpinnerFrame(tick));
      ASSERT_EQ(model.Tick().caption, expected) << "tick " << tick;
    }
  }
}

TEST(WindowModel, BarRectangle) {
  const struct {
    int shown;
    BarRect bar;
  } cases[] = {
      {0, {10, 0, 10, 50}},  {2, {10, 0, 22, 50}},   {3, {10, 0, 29, 50}},  // 19.2 truncated
      {50, {10, 0, 330, 50}}, {98, {10, 0, 637, 50}}, {100, {10, 0, 650, 50}},
  };
  for (const auto& c : cases) {
    BarRect b = WindowModel::BarFor(c.shown);
    EXPECT_EQ(b.left, c.bar.left) << c.shown;
    EXPECT_EQ(b.top, c.bar.top) << c.shown;
    EXPECT_EQ(b.right, c.bar.right) << c.shown;
    EXPECT_EQ(b.bottom, c.bar.bottom) << c.shown;
  }
  auto state = std::make_shared<LaunchState>();
  state->SetProgress(50);
  WindowModel model(state);
  for (int i = 0; i < 30; ++i) model.Tick();
  EXPECT_EQ(model.Bar().right, 330);
}

// A real worker thread racing the ticks: every run ends in exactly one launch or exactly one
// message box, never both, and a launch only without an error.
TEST(WindowModel, RacingWorkerEndsInExactlyOneOutcome) {
  for (int round = 0; round < 300; ++round) {
    auto state = std::make_shared<LaunchState>();
    WindowModel model(state);
    std::thread worker([state, round] {
      for (int p : {10, 20, 50, 70, 90}) {
        state->SetProgress(p);
        std::this_thread::yield();
      }
      if (round % 3 == 0) state->Fail(UpdateFailure::kPackageDownload);
      else state->Finish(LaunchPlan{});
    });
    int launches = 0, boxes = 0;
    auto tick = [&] {
      Step step = model.Tick().step;
      launches += step == Step::kLaunch;
      boxes += step == Step::kShowError;
    };
    for (int t = 0; t < 60; ++t) tick();  // while the worker runs
    worker.join();
    for (int t = 0; t < 60; ++t) tick();  // enough to climb the rest of the way
    EXPECT_EQ(launches + boxes, 1);
    EXPECT_EQ(launches == 1, round % 3 != 0) << round;
  }
}
