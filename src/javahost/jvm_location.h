// Where the private Java runtime's VM library lies beside the executable.
#pragma once

// Full path of the VM library, or null when it is missing. A found path is kept for the
// rest of the process and returned without looking at the disk again.
const wchar_t* FindJvmPath();

// For tests: forget a found path.
void ResetJvmPathForTesting();
