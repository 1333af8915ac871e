#include "javahost/java_launch.h"

#include <jni.h>

#include <string>
#include <vector>

#include "branding.h"
#include "diagnostics/log.h"
#include "javahost/java_launch_internal.h"
#include "platform/atomic_file.h"
#include "platform/dynlib.h"
#include "platform/platform.h"

namespace javahost {
namespace {

// The temporary jar's path for the rest of the process: the class path reads it.
std::wstring tempJarPath;

using CreateJavaVmFunction = jint(JNICALL*)(JavaVM**, void**, void*);

std::wstring FromUtf16(const jchar* units, jsize count) {
  std::wstring text;
  if constexpr (sizeof(wchar_t) == sizeof(jchar)) {
    text.assign(reinterpret_cast<const wchar_t*>(units), static_cast<size_t>(count));
  } else {
    for (jsize i = 0; i < count; ++i) {
      char32_t c = units[i];
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
        ++i;
      }
      text += static_cast<wchar_t>(c);
    }
  }
  return text;
}

// A Java exception left pending must not reach the next JNI call or DestroyJavaVM: its
// description goes to the log (and the stack trace to standard error) and it is cleared.
void ReportPendingException(JNIEnv* env) {
  if (!env->ExceptionCheck()) return;
  jthrowable thrown = env->ExceptionOccurred();
  env->ExceptionDescribe();
  env->ExceptionClear();
  std::wstring text = L"(no description)";
  if (thrown != nullptr) {
    jclass type = env->GetObjectClass(thrown);
    jmethodID toString = type ? env->GetMethodID(type, "toString", "()Ljava/lang/String;") : nullptr;
    auto described = toString ? static_cast<jstring>(env->CallObjectMethod(thrown, toString)) : nullptr;
    if (env->ExceptionCheck()) env->ExceptionClear();
    if (described != nullptr) {
      if (const jchar* chars = env->GetStringChars(described, nullptr)) {
        text = FromUtf16(chars, env->GetStringLength(described));
        env->ReleaseStringChars(described, chars);
      }
      env->DeleteLocalRef(described);
    }
    if (type != nullptr) env->DeleteLocalRef(type);
    env->DeleteLocalRef(thrown);
  }
  theLog.Write(L"java exception: %s", text);
}

// The folder of the temporary jar may not exist yet (a new Linux account has no
// ~/.local/share); Windows always has it.
}  // namespace

bool ReadJarFile(const std::wstring& fileName, std::vector<std::uint8_t>* bytes) {
  platform::File file;
  if (!file.Open(fileName, platform::OpenMode::kReadExclusive)) return false;
  std::int64_t length = file.Length();
  if (length <= 0) return false;
  bytes->assign(static_cast<size_t>(length), 0);
  size_t done = 0;
  while (done < bytes->size()) {
    size_t got = 0;
    if (!file.Read(bytes->data() + done, bytes->size() - done, &got) || got == 0) {
      bytes->clear();  // a jar cut short would fail later in ways far harder to tell
      return false;
    }
    done += got;
  }
  for (std::uint8_t& b : *bytes) b ^= branding::kJarKey;
  return true;
}

void GetTempJarPath() {
  std::wstring folder = platform::LocalAppDataFolder();
  if (folder.empty()) {
    theLog.Write(L"SHGetSpecialFolderLocation fail !");
    return;
  }
  platform::MakeDirectories(folder);
  tempJarPath = folder + platform::kPathSeparator + L"_Temp";
  theLog.Write(L"%s", tempJarPath);
}

const std::wstring& TempJarPath() { return tempJarPath; }

void ResetTempJarPathForTesting() { tempJarPath.clear(); }

std::wstring WriteJarReplacing(const std::wstring& path, const std::uint8_t* bytes, size_t length) {
  // Jars written beside "_Temp" by copies that have ended are no longer in use.
  platform::RemoveStaleSiblings(path, L"run");
  if (platform::WriteFileAtomically(path, bytes, length)) return path;
  std::wstring beside = platform::UniqueSiblingName(path, L"run");
  platform::File file;
  if (file.Open(beside, platform::OpenMode::kWriteCreateExclusive) && file.Write(bytes, length)) {
    return beside;
  }
  file.Close();
  platform::RemoveFile(beside);
  return {};
}

void WriteTempJar(const std::uint8_t* bytes, size_t length) {
  GetTempJarPath();
  theLog.Write(L"write jar to:%s", tempJarPath);
  // Without a folder there is no file to write; the launch goes on without the jar.
  if (tempJarPath.empty()) return;
  std::wstring written = WriteJarReplacing(tempJarPath, bytes, length);
  // Nothing written: the class path keeps "_Temp" with whatever it holds.
  if (!written.empty() && written != tempJarPath) {
    tempJarPath = written;
    theLog.Write(L"write jar to:%s", tempJarPath);
  }
}

std::wstring JvmLoadFolder(const std::wstring& jvmPath) {
  int seen = 0;
  for (size_t i = jvmPath.size(); i-- > 0;) {
    if (platform::IsPathSeparator(jvmPath[i]) && ++seen == 2) return jvmPath.substr(0, i);
  }
  return jvmPath;
}

platform::LibraryHandle LoadJvmLibrary(const std::wstring& jvmPath, platform::Error* err) {
  std::wstring saved = platform::CurrentDirectory();
  // A current directory that cannot be told could not be restored: leave it alone then.
  if (!saved.empty()) platform::ChangeCurrentDirectory(JvmLoadFolder(jvmPath));
  platform::LibraryHandle library = platform::LoadDynamicLibrary(jvmPath, err);
  if (!saved.empty()) platform::ChangeCurrentDirectory(saved);
  return library;
}

JvmOptions BuildJvmOptions(const std::wstring& tempJar, const std::wstring& libText) {
  const wchar_t sep = platform::kClassPathSeparator;
  const char narrowSep = static_cast<char>(sep);
  JvmOptions result;
  result.classPathOption = std::wstring(L"-Djava.class.path=.") + sep + tempJar + sep + libText;

  std::string classPath = std::string(branding::kJvmClassPathOption) + "=." + narrowSep +
                          platform::ClassPathElement(tempJar) + narrowSep;
  size_t start = 0;
  for (;;) {
    size_t end = libText.find(sep, start);
    classPath += platform::ClassPathElement(libText.substr(start, end - start));
    if (end == std::wstring::npos) break;
    classPath += narrowSep;
    start = end + 1;
  }

  for (const char* option : branding::kJvmOptions) {
    result.options.push_back(std::string(option) == branding::kJvmClassPathOption ? classPath : option);
  }
  return result;
}

std::u16string ToUtf16(const std::wstring& text) {
  std::u16string units;
  units.reserve(text.size());
  for (wchar_t wc : text) {
    auto c = static_cast<char32_t>(wc);
    if constexpr (sizeof(wchar_t) == sizeof(char16_t)) {
      units += static_cast<char16_t>(c);
    } else if (c >= 0x10000 && c <= 0x10FFFF) {
      c -= 0x10000;
      units += static_cast<char16_t>(0xD800 + (c >> 10));
      units += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      units += static_cast<char16_t>(c > 0x10FFFF ? 0xFFFD : c);
    }
  }
  return units;
}

int RunJavaMain(const std::wstring& jvmPath, const std::wstring& libText) {
  JvmOptions built = BuildJvmOptions(tempJarPath, libText);
  std::vector<JavaVMOption> options(built.options.size());
  for (size_t i = 0; i < options.size(); ++i) {
    options[i].optionString = built.options[i].data();
    options[i].extraInfo = nullptr;
  }
  JavaVMInitArgs args{};
  args.version = JNI_VERSION_1_6;
  args.nOptions = static_cast<jint>(options.size());
  args.options = options.data();
  args.ignoreUnrecognized = JNI_TRUE;
  theLog.Write(L"jvm param:%s", built.classPathOption);

  theLog.Write(L"start load jvm dll.");
  platform::Error err;
  platform::LibraryHandle library = LoadJvmLibrary(jvmPath, &err);
  theLog.Write(L"load jvm dll complete!!!");
  if (library == nullptr) {
    theLog.Write(L"load jvm.dll fail!!! path = %s, code=%d", jvmPath, err.code);
    LogException(err);
    return 2;
  }

  theLog.Write(L"start create java vm.");
  platform::PrepareLocaleForJvm();
  auto createJavaVm =
      reinterpret_cast<CreateJavaVmFunction>(platform::FindLibrarySymbol(library, "JNI_CreateJavaVM"));
  JavaVM* vm = nullptr;
  JNIEnv* env = nullptr;
  // A library without the export is no Java runtime: the VM cannot be created.
  jint created = createJavaVm ? createJavaVm(&vm, reinterpret_cast<void**>(&env), &args) : JNI_ERR;
  theLog.Write(L"create java vm now!!!");
  if (created < 0 || vm == nullptr || env == nullptr) {
    theLog.Write(L"create java vm fail!!!");
    return 3;
  }

  theLog.Write(L"find main class");
  jclass mainClass = env->FindClass("zobj/Run");
  if (mainClass == nullptr) {
    theLog.Write(L"FindClass zobj/Run failed\n");
    ReportPendingException(env);
    vm->DestroyJavaVM();
    return 4;
  }

  theLog.Write(L"find main mathod");
  if (jobject instance = env->AllocObject(mainClass)) env->DeleteLocalRef(instance);
  ReportPendingException(env);  // an abstract zobj.Run has no instance, but may run all the same
  jmethodID entry = env->GetStaticMethodID(mainClass, "runWithPath", "(Ljava/lang/String;)V");
  if (entry == nullptr) {
    theLog.Write(L"getMethodID runWithPath failed");
    ReportPendingException(env);
    vm->DestroyJavaVM();
    return 5;
  }

  std::u16string exePath = ToUtf16(platform::ExecutablePath());
  jstring argument = env->NewString(reinterpret_cast<const jchar*>(exePath.data()),
                                    static_cast<jsize>(exePath.size()));
  if (argument != nullptr) env->CallStaticVoidMethod(mainClass, entry, argument);
  ReportPendingException(env);

  theLog.Write(L"load jar success");
  vm->DestroyJavaVM();
  platform::FreeDynamicLibrary(library);
  return 0;
}

}  // namespace javahost

int CreateJarAndRun(const wchar_t* jvmPath, const wchar_t* jarName, const wchar_t* libText) {
  std::wstring jvm = jvmPath ? jvmPath : L"";
  std::wstring jar = jarName ? jarName : L"";
  theLog.Write(L"create JarAnd Run: jvm=%s, jar=%s", jvm, jar);
  std::vector<std::uint8_t> bytes;
  if (jar.empty() || !javahost::ReadJarFile(jar, &bytes)) {
    platform::WriteStdout("can't find jar file\n");
    return 1;
  }
  javahost::WriteTempJar(bytes.data(), bytes.size());
  bytes.clear();
  bytes.shrink_to_fit();
  return javahost::RunJavaMain(jvm, libText ? libText : L"");
}
