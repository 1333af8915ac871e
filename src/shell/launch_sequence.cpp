#include "shell/launch_sequence.h"

#include <thread>

#include "javahost/java_launch.h"

void StartUpdateThread(std::shared_ptr<LaunchState> state, UpdateSettings settings) {
  std::thread([state = std::move(state), settings = std::move(settings)] {
    RunUpdateAndPublish(settings, *state);
  }).detach();
}

LaunchResult LaunchFinishedRun(const LaunchState& state) {
  std::optional<LaunchPlan> plan = state.Plan();
  // The window launches only after the run has finished; a run without a plan has no jar.
  if (!plan) return LaunchResult::kNoJar;
  return RunJavaApplication(*plan);
}
