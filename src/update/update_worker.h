// The update run: once per process, on its own thread. It brings the working folder up to
// date from the vendor's server and leaves either a plan to launch or the failure to show.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <variant>

#include "launch/launch_plan.h"
#include "launch/launch_state.h"
#include "launch/outcomes.h"

// What the run needs from outside: where the launcher is, where the user's Documents
// are, where runtime libraries come from, and the TUF root that updates must be signed
// under.
struct UpdateSettings {
  std::wstring executablePath;
  std::wstring documentsFolder;
  std::wstring runtimeBaseUrl;
  // The root.json the launcher was built with; empty: updates are installed unsigned, as
  // update.txt and libs.txt name them. Otherwise signed mode (signed_release.h).
  std::string updateRoot;
  // Seconds since 1970 UTC, read once per run for the metadata's expiry; empty: the
  // system's clock.
  std::function<std::int64_t()> clock;

  // This process's executable, the user's Documents folder, the built-in base URL and
  // the built-in root.
  static UpdateSettings ForThisProcess();
};

// The whole run: working folder, version line, runtime check, Config.ini, then unsigned:
// local MD5, runtime libraries, update.txt and, when the MD5s differ, the package; signed:
// RunSignedUpdate. Publishes the
// progress steps 10 to 90 in `state` as it goes and returns the plan or the first failure;
// it does not end the record (see RunUpdateAndPublish).
std::variant<LaunchPlan, UpdateFailure> RunUpdate(const UpdateSettings& settings, LaunchState& state);

// RunUpdate, then its result into `state` (Finish or Fail), which makes the progress 100.
void RunUpdateAndPublish(const UpdateSettings& settings, LaunchState& state);
