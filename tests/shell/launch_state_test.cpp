#include "shell/launch_state.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/platform.h"

TEST(LaunchState, NewRecordIsEmptyAndBecomesCurrent) {
  auto state = LaunchState::Create();
  EXPECT_EQ(CurrentLaunchState(), state);
  EXPECT_EQ(state->Progress(), 0);
  EXPECT_FALSE(state->HasError());
  for (const std::wstring& field : {state->GetErrorText(), state->VersionUrl(), state->MainUrl(),
                                    state->PackageUrl(), state->LibsUrl(), state->JarName(),
                                    state->LibText()})
    EXPECT_TRUE(field.empty());
  auto second = LaunchState::Create();
  EXPECT_EQ(CurrentLaunchState(), second);
}

TEST(LaunchState, SetLaunchError) {
  auto state = LaunchState::Create();
  state->SetProgress(20);
  state->SetLaunchError(nullptr);
  EXPECT_EQ(state->Progress(), 20);
  EXPECT_FALSE(state->HasError());

  state->SetLaunchError(L"找不到本地配置文件！");
  EXPECT_EQ(state->Progress(), 100);
  EXPECT_EQ(state->GetErrorText(), L"找不到本地配置文件！");
}

TEST(LaunchState, SetLibTextUsesThePlatformSeparators) {
  const wchar_t sep = platform::kPathSeparator, list = platform::kClassPathSeparator;
  struct Case {
    const wchar_t* in;
    std::wstring out;
  } cases[] = {
      {L"a/b;c/d", std::wstring{L'a', sep, L'b', list, L'c', sep, L'd'}},
      {L"lib/a.jar;lib/b.jar", std::wstring(L"lib") + sep + L"a.jar" + list + L"lib" + sep + L"b.jar"},
      {L"x\\y.jar", L"x\\y.jar"},  // backslashes already there stay
      {L"plain.jar", L"plain.jar"},
      {L"", L""},
  };
  for (const auto& c : cases) {
    auto state = LaunchState::Create();
    state->SetLibText(c.in);
    EXPECT_EQ(state->LibText(), c.out) << c.in;
  }
  auto state = LaunchState::Create();
  state->SetLibText(L"keep.jar");
  state->SetLibText(nullptr);
  EXPECT_EQ(state->LibText(), L"keep.jar");
  state->SetLibText(L"");
  EXPECT_EQ(state->LibText(), L"");
}

// The window may end (and drop its reference) while the worker still writes.
TEST(LaunchState, RecordOutlivesTheWindowWhileTheWorkerHoldsIt) {
  auto window = LaunchState::Create();
  std::weak_ptr<LaunchState> watch = window;
  std::thread worker([state = CurrentLaunchState()] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    state->SetJarName(L"main.jar");
    state->SetProgress(100);
  });
  window.reset();
  LaunchState::Create();  // the process moves on; the worker's record must stay valid
  worker.join();
  EXPECT_TRUE(watch.expired());
}

// A reader that sees 100 sees every string written before it, error text included.
TEST(LaunchState, ProgressPublishesTheStringsItCovers) {
  for (int round = 0; round < 200; ++round) {
    auto state = LaunchState::Create();
    std::thread worker([state, round] {
      state->SetJarName(L"main.jar");
      state->SetProgress(20);
      state->SetLibText(L"lib/a.jar");
      state->SetProgress(50);
      if (round % 2) state->SetLaunchError(L"下载执行文件出错！");
      else state->SetProgress(100);
    });
    bool torn = false;
    while (state->Progress() < 100 && !torn) {
      int p = state->Progress();
      if (p >= 20 && state->JarName() != L"main.jar") torn = true;
      if (p >= 50 && state->LibText().empty()) torn = true;
    }
    EXPECT_FALSE(torn) << "a progress value was seen before the strings it covers";
    worker.join();
    EXPECT_EQ(state->JarName(), L"main.jar");
  }
}
