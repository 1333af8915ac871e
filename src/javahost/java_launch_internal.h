// The steps of CreateJarAndRun, open to the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/dynlib.h"

namespace javahost {

// The stored jar's bytes with the jar key removed. False when the file cannot be opened
// (also while another program holds it), is empty or cannot be read whole.
bool ReadJarFile(const std::wstring& fileName, std::vector<std::uint8_t>* bytes);

// Builds the temporary jar's path ("_Temp" in the local application data folder) and logs
// it; leaves it unchanged (empty at first) when there is no such folder.
void GetTempJarPath();
// The temporary jar the class path names: "_Temp", or a sibling that WriteTempJar had to
// use. Empty until GetTempJarPath has built it.
const std::wstring& TempJarPath();
void ResetTempJarPathForTesting();

// Writes the plain jar to the temporary jar and makes TempJarPath the file it went to.
void WriteTempJar(const std::uint8_t* bytes, std::size_t length);
// Replaces `path` with the bytes without ever truncating it in place (a running copy of the
// application may read it). When it cannot be replaced (on Windows while a running VM holds
// it), the bytes go to a new file beside it. Returns the file written, empty when none.
std::wstring WriteJarReplacing(const std::wstring& path, const std::uint8_t* bytes,
                               std::size_t length);

// The runtime's folder that is current while its library loads, so that the libraries it
// depends on are found: the path cut at its second separator from the end
// (java\bin\client\jvm.dll -> java\bin). The whole path when it has fewer than two.
std::wstring JvmLoadFolder(const std::wstring& jvmPath);
// Loads the VM library with JvmLoadFolder as the current directory and restores the
// current directory afterwards, whatever the load gave. Null on failure, with *err set.
platform::LibraryHandle LoadJvmLibrary(const std::wstring& jvmPath, platform::Error* err);

struct JvmOptions {
  std::wstring classPathOption;      // as logged: "-Djava.class.path=.;<temp jar>;<libText>"
  std::vector<std::string> options;  // as passed to the VM, in order
};
// The VM's options from the build's list, with the class path made of ".", the temporary
// jar and libText (its elements each converted on their own), at whatever length.
JvmOptions BuildJvmOptions(const std::wstring& tempJar, const std::wstring& libText);

// Text as UTF-16 code units, the form a Java string is made from.
std::u16string ToUtf16(const std::wstring& text);

// Loads the VM, creates it and runs zobj.Run.runWithPath: 0, 2, 3, 4 or 5.
int RunJavaMain(const std::wstring& jvmPath, const std::wstring& libText);

}  // namespace javahost
