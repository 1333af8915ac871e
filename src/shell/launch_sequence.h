// What both front ends do around their window: start the update run on its own thread,
// and hand a finished run's plan to the Java host.
#pragma once

#include <memory>
#include <optional>

#include "launch/launch_state.h"
#include "launch/outcomes.h"
#include "update/update_worker.h"

// Starts RunUpdateAndPublish on a thread of its own that is never waited for. The thread
// holds the record for as long as it runs, even after the window has gone.
void StartUpdateThread(std::shared_ptr<LaunchState> state, UpdateSettings settings);

// Runs the Java application of the run's plan on the calling thread, until it has ended.
LaunchResult LaunchFinishedRun(const LaunchState& state);
