// The stand-in for a DLL that a Windows runtime ships in its bin folder for its VM library
// (the C runtime, say): found only when the launcher searches that folder.
extern "C" __declspec(dllexport) int TestRuntimeDependency() { return 42; }
