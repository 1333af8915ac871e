// Runs the Java application inside this process.
#pragma once

#include "launch/launch_plan.h"
#include "launch/outcomes.h"

// Unscrambles the plan's stored jar into the temporary jar, enters the working folder,
// loads the runtime's VM library, creates the VM with the class path (working folder,
// temporary jar, libraries) and calls zobj.Run.runWithPath with the executable's path.
// Returns when the application has ended.
LaunchResult RunJavaApplication(const LaunchPlan& plan);
