#include "javahost/java_launch.h"

#include <jni.h>

#include <string>
#include <variant>
#include <vector>

#include "base/text.h"
#include "branding.h"
#include "diagnostics/log.h"
#include "javahost/java_launch_internal.h"
#include "platform/jvm_environment.h"
#include "javahost/temp_jar.h"
#include "platform/platform.h"

namespace javahost {
namespace {

using CreateJavaVmFunction = jint(JNICALL*)(JavaVM**, void**, void*);

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
        text = base::Utf16ToWide(reinterpret_cast<const char16_t*>(chars),
                                   static_cast<std::size_t>(env->GetStringLength(described)));
        env->ReleaseStringChars(described, chars);
      }
      env->DeleteLocalRef(described);
    }
    if (type != nullptr) env->DeleteLocalRef(type);
    env->DeleteLocalRef(thrown);
  }
  theLog.Write(L"java exception: %s", text);
}

}  // namespace

std::wstring JvmLoadFolder(const std::wstring& jvmPath) {
  int seen = 0;
  for (size_t i = jvmPath.size(); i-- > 0;) {
    if (platform::IsPathSeparator(jvmPath[i]) && ++seen == 2) return jvmPath.substr(0, i);
  }
  return jvmPath;
}

platform::DynamicLibrary LoadJvmLibrary(const std::wstring& jvmPath, platform::Error* err) {
  platform::DynamicLibrary library;
  library.Load(jvmPath, err, JvmLoadFolder(jvmPath));
  return library;
}

JvmOptions BuildJvmOptions(const std::vector<std::wstring>& classPath) {
  const wchar_t sep = platform::kClassPathSeparator;
  JvmOptions result;
  result.classPathOption = L"-Djava.class.path=";
  std::string option = std::string(branding::kJvmClassPathOption) + "=";
  for (std::size_t i = 0; i < classPath.size(); ++i) {
    if (i > 0) {
      result.classPathOption += sep;
      option += static_cast<char>(sep);
    }
    result.classPathOption += classPath[i];
    option += platform::PathInAnsiCodePage(classPath[i]);
  }
  for (const char* entry : branding::kJvmOptions) {
    result.options.push_back(std::string(entry) == branding::kJvmClassPathOption ? option : entry);
  }
  return result;
}

LaunchResult RunJavaMain(const std::wstring& jvmPath, const std::vector<std::wstring>& classPath,
                         const std::wstring& argument) {
  JvmOptions built = BuildJvmOptions(classPath);
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
  platform::DynamicLibrary library = LoadJvmLibrary(jvmPath, &err);
  theLog.Write(L"load jvm dll complete!!!");
  if (!library.IsLoaded()) {
    theLog.Write(L"load jvm.dll fail!!! path = %s, code=%d", jvmPath, err.code);
    LogException(err);
    return LaunchResult::kRuntimeNotLoadable;
  }

  theLog.Write(L"start create java vm.");
  platform::PrepareLocaleForJvm();
  auto createJavaVm = reinterpret_cast<CreateJavaVmFunction>(library.Symbol("JNI_CreateJavaVM"));
  JavaVM* vm = nullptr;
  JNIEnv* env = nullptr;
  // A library without the export is no Java runtime: the VM cannot be created.
  jint created = createJavaVm ? createJavaVm(&vm, reinterpret_cast<void**>(&env), &args) : JNI_ERR;
  theLog.Write(L"create java vm now!!!");
  if (created < 0 || vm == nullptr || env == nullptr) {
    theLog.Write(L"create java vm fail!!!");
    return LaunchResult::kVmNotCreated;
  }

  theLog.Write(L"find main class");
  jclass mainClass = env->FindClass("zobj/Run");
  if (mainClass == nullptr) {
    theLog.Write(L"FindClass zobj/Run failed\n");
    ReportPendingException(env);
    vm->DestroyJavaVM();
    return LaunchResult::kMainClassMissing;
  }

  theLog.Write(L"find main mathod");
  if (jobject instance = env->AllocObject(mainClass)) env->DeleteLocalRef(instance);
  ReportPendingException(env);  // an abstract zobj.Run has no instance, but may run all the same
  jmethodID entry = env->GetStaticMethodID(mainClass, "runWithPath", "(Ljava/lang/String;)V");
  if (entry == nullptr) {
    theLog.Write(L"getMethodID runWithPath failed");
    ReportPendingException(env);
    vm->DestroyJavaVM();
    return LaunchResult::kEntryMethodMissing;
  }

  std::u16string exePath = base::WideToUtf16(argument);
  jstring javaArgument = env->NewString(reinterpret_cast<const jchar*>(exePath.data()),
                                        static_cast<jsize>(exePath.size()));
  if (javaArgument != nullptr) env->CallStaticVoidMethod(mainClass, entry, javaArgument);
  ReportPendingException(env);

  theLog.Write(L"load jar success");
  vm->DestroyJavaVM();
  return LaunchResult::kRan;
}

}  // namespace javahost

LaunchResult RunJavaApplication(const LaunchPlan& plan) {
  theLog.Write(L"create JarAnd Run: jvm=%s, jar=%s", plan.runtimeLibrary, plan.storedJar);
  std::variant<TempJar, TempJarFailure> prepared =
      PrepareTempJar(plan.storedJar, plan.workingFolder, platform::LocalAppDataFolder());
  if (auto* failure = std::get_if<TempJarFailure>(&prepared)) {
    if (*failure == TempJarFailure::kNoStoredJar) platform::WriteStdout("can't find jar file\n");
    return LaunchResult::kNoJar;
  }
  // Held until the application has ended: while it runs, no other launch of this
  // installation replaces the file its VM reads.
  const TempJar& tempJar = std::get<TempJar>(prepared);

  // The application has always run with the working folder as its current directory:
  // its own relative file names resolve there.
  platform::ChangeCurrentDirectory(plan.workingFolder);
  // The working folder comes last: the application still reads its files there through
  // the class path, but no class or resource file that lands in the user's folder can
  // take the place of the vendor's own, nor does a folder before the jars keep the VM's
  // class-data sharing from working.
  std::vector<std::wstring> classPath{tempJar.path};
  classPath.insert(classPath.end(), plan.libraries.begin(), plan.libraries.end());
  classPath.push_back(plan.workingFolder);
  return javahost::RunJavaMain(plan.runtimeLibrary, classPath, plan.executablePath);
}
