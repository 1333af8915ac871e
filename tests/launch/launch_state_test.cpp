#include "launch/launch_state.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "launch/user_texts.h"

TEST(LaunchState, NewRecordIsEmpty) {
  LaunchState state;
  EXPECT_EQ(state.Progress(), 0);
  EXPECT_FALSE(state.HasFailed());
  EXPECT_FALSE(state.Plan().has_value());
}

TEST(LaunchState, FailAndFinishEndTheRunAt100) {
  LaunchState failed;
  failed.SetProgress(20);
  failed.Fail(UpdateFailure::kConfigFile);
  EXPECT_EQ(failed.Progress(), 100);
  EXPECT_EQ(failed.Failure(), UpdateFailure::kConfigFile);
  EXPECT_FALSE(failed.Plan().has_value());

  LaunchState finished;
  LaunchPlan plan;
  plan.storedJar = L"/w/main.jar";
  plan.libraries = {L"/w/lib/a.jar"};
  finished.Finish(plan);
  EXPECT_EQ(finished.Progress(), 100);
  EXPECT_FALSE(finished.HasFailed());
  ASSERT_TRUE(finished.Plan().has_value());
  EXPECT_EQ(finished.Plan()->storedJar, L"/w/main.jar");
  EXPECT_EQ(finished.Plan()->libraries, plan.libraries);
}

TEST(LaunchState, ObserverSeesEveryProgressInOrder) {
  std::vector<int> seen;
  LaunchState state([&](int p) { seen.push_back(p); });
  state.SetProgress(10);
  state.SetProgress(50);
  state.Fail(UpdateFailure::kVersionFile);
  EXPECT_EQ(seen, (std::vector<int>{10, 50, 100}));
}

// The window may end (and drop its reference) while the update thread still writes.
TEST(LaunchState, RecordOutlivesTheWindowWhileTheWorkerHoldsIt) {
  auto window = std::make_shared<LaunchState>();
  std::weak_ptr<LaunchState> watch = window;
  std::thread worker([state = window] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    state->Finish(LaunchPlan{});
  });
  window.reset();
  worker.join();
  EXPECT_TRUE(watch.expired());
}

// A reader that sees 100 sees the outcome written before it.
TEST(LaunchState, ProgressPublishesTheOutcomeItCovers) {
  for (int round = 0; round < 200; ++round) {
    auto state = std::make_shared<LaunchState>();
    std::thread worker([state, round] {
      state->SetProgress(20);
      state->SetProgress(50);
      if (round % 2) {
        state->Fail(UpdateFailure::kPackageDownload);
      } else {
        LaunchPlan plan;
        plan.storedJar = L"main.jar";
        state->Finish(plan);
      }
    });
    while (state->Progress() < 100) {
    }
    if (round % 2) EXPECT_EQ(state->Failure(), UpdateFailure::kPackageDownload);
    else EXPECT_TRUE(state->Plan().has_value() && state->Plan()->storedJar == L"main.jar");
    worker.join();
  }
}
