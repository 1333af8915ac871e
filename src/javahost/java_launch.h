// Runs the Java application inside this process.
#pragma once

#include "launch/launch_plan.h"
#include "launch/outcomes.h"

// Makes sure the installation's temporary jar holds the plan's stored jar unscrambled
// (see temp_jar.h; cod=1 when it cannot), enters the working folder,
// loads the runtime's VM library, creates the VM with the class path (working folder,
// temporary jar, libraries) and calls zobj.Run.runWithPath with the executable's path.
// Returns when the application has ended.
LaunchResult RunJavaApplication(const LaunchPlan& plan);
