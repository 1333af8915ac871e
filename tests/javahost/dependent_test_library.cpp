// Windows: a library that imports a DLL lying only in the runtime's bin folder, as a real
// jvm.dll (in bin\server) imports the C runtime DLL that the runtime ships in bin.
extern "C" __declspec(dllimport) int TestRuntimeDependency();

extern "C" __declspec(dllexport) int TestLibraryDependency() { return TestRuntimeDependency(); }
