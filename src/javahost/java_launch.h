// Runs the Java application inside this process.
#pragma once

// Unscrambles the stored jar into the temporary jar, loads the VM library at jvmPath,
// creates the VM and calls zobj.Run.runWithPath with the executable's path. Returns when
// the application has ended. 0 on success; 1 no or empty jar, 2 library not loadable,
// 3 VM creation failed, 4 zobj/Run missing, 5 runWithPath missing.
int CreateJarAndRun(const wchar_t* jvmPath, const wchar_t* jarName, const wchar_t* libText);
