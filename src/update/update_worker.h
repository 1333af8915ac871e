// The update run: once per process, on its own thread. It brings the working folder up to
// date from the vendor's server and leaves either a plan to launch or the failure to show.
#pragma once

#include <optional>
#include <string>
#include <variant>

#include "launch/launch_plan.h"
#include "launch/launch_state.h"
#include "launch/outcomes.h"
#include "platform/crypto.h"

// What the run needs from outside: where the launcher is, where the user's Documents
// are, where runtime libraries come from, and the key that updates must be signed with.
struct UpdateSettings {
  std::wstring executablePath;
  std::wstring documentsFolder;
  std::wstring runtimeBaseUrl;
  // Empty: updates are installed unsigned (see signed_update.h).
  std::optional<platform::P256PublicKey> updatePublicKey;

  // This process's executable, the user's Documents folder, the built-in base URL and
  // the built-in update key.
  static UpdateSettings ForThisProcess();
};

// The whole run: working folder, version line, runtime check, Config.ini, local MD5,
// runtime libraries, update.txt and, when the MD5s differ, the package. Publishes the
// progress steps 10 to 90 in `state` as it goes and returns the plan or the first failure;
// it does not end the record (see RunUpdateAndPublish).
std::variant<LaunchPlan, UpdateFailure> RunUpdate(const UpdateSettings& settings, LaunchState& state);

// RunUpdate, then its result into `state` (Finish or Fail), which makes the progress 100.
void RunUpdateAndPublish(const UpdateSettings& settings, LaunchState& state);
