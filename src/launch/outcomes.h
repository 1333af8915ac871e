// How an update run and a Java launch can fail. The window turns these into the user's
// texts (user_texts.h); nothing else carries a failure across the launch.
#pragma once

// The update step that failed; each has one fixed text for the user.
enum class UpdateFailure {
  kWorkingFolder,    // the working folder under Documents cannot be made or entered
  kJavaRuntime,      // the private Java runtime is missing
  kConfigFile,       // Config.ini cannot be read
  kConfigContent,    // Config.ini's first line is no http:// or https:// URL
  kVersionFile,      // update.txt cannot be fetched or is no version file; signed mode: no
                     // usable metadata and no jar to start instead
  kPackageDownload,  // the package cannot be fetched whole and verified
  kJarWrite,         // the verified package cannot replace the jar
  kSignature,        // signed mode: the package is not the signed bytes, and no jar is there
};

// The result of the Java launch. Users read the value as "cod=N" and support staff rely
// on the numbers: they never change.
enum class LaunchResult : int {
  kRan = 0,                   // the application ran and has ended
  kNoJar = 1,                 // no jar, or its plain copy could not be made
  kRuntimeNotLoadable = 2,    // the VM library cannot be loaded
  kVmNotCreated = 3,          // JNI_CreateJavaVM failed (or is missing)
  kMainClassMissing = 4,      // zobj/Run is not on the class path
  kEntryMethodMissing = 5,    // zobj/Run has no static runWithPath(String)
};
