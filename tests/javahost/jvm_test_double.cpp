// TEST DOUBLE of a Windows Java runtime's jvm.dll. No Windows JVM exists on the build
// machines, so the Windows launcher's JNI calls are checked against this stand-in under
// Wine; the real VM is exercised by the Linux build.
//
// It records what it is given, one UTF-8 line each, to "jvm-test-double.log" in the current
// folder of the JNI_CreateJavaVM call, and reads the step at which to fail from
// "jvm-test-double.txt" there: "create", "class", "method", "throw" (the entry method ends
// with an exception) or nothing.
#include <windows.h>

// This library implements the invocation functions that jni.h declares.
#define _JNI_IMPLEMENTATION_
#include <jni.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::wstring loadedIn;     // current folder while the library was being loaded
std::wstring recordPath;   // absolute: the current folder changes meanwhile
std::string failAt;
std::u16string pending;    // description of the pending Java exception, empty when none

void Record(const std::string& line) {
  if (recordPath.empty()) return;
  HANDLE file = CreateFileW(recordPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

std::string Utf8(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
  return out;
}
std::string Utf8(const std::u16string& text) {
  return Utf8(std::wstring(text.begin(), text.end()));
}

// Handles are addresses of these; a string handle points at its text.
struct FakeObject {
  char kind;
} mainClass{'c'}, otherClass{'c'}, instance{'o'}, throwable{'t'}, throwableClass{'c'};
char entryMethod, toStringMethod;
std::u16string strings[8];
int stringCount = 0;

jstring MakeString(const std::u16string& text) {
  std::u16string* slot = &strings[stringCount++ % 7];  // the last slot is the exception's
  *slot = text;
  return reinterpret_cast<jstring>(slot);
}
const std::u16string* StringOf(jobject handle) {
  for (auto& s : strings)
    if (reinterpret_cast<jobject>(&s) == handle) return &s;
  return nullptr;
}
void Throw(const char16_t* description) {
  pending = description;
}

jclass JNICALL FindClass(JNIEnv*, const char* name) {
  Record(std::string("FindClass ") + name);
  if (failAt == "class" || std::strcmp(name, "zobj/Run") != 0) {
    Throw(u"java.lang.NoClassDefFoundError: zobj/Run");
    return nullptr;
  }
  return reinterpret_cast<jclass>(&mainClass);
}

jobject JNICALL AllocObject(JNIEnv*, jclass cls) {
  Record(cls == reinterpret_cast<jclass>(&mainClass) ? "AllocObject zobj/Run" : "AllocObject other");
  return reinterpret_cast<jobject>(&instance);
}

jmethodID JNICALL GetStaticMethodID(JNIEnv*, jclass, const char* name, const char* sig) {
  Record(std::string("GetStaticMethodID ") + name + " " + sig);
  if (failAt == "method" || std::strcmp(name, "runWithPath") != 0 ||
      std::strcmp(sig, "(Ljava/lang/String;)V") != 0) {
    Throw(u"java.lang.NoSuchMethodError: runWithPath");
    return nullptr;
  }
  return reinterpret_cast<jmethodID>(&entryMethod);
}

jstring JNICALL NewString(JNIEnv*, const jchar* chars, jsize length) {
  std::u16string text(reinterpret_cast<const char16_t*>(chars), static_cast<size_t>(length));
  Record("NewString " + std::to_string(length) + " " + Utf8(text));
  return MakeString(text);
}

// jni.h's C++ wrappers pass on to the va_list forms; C callers use the variadic ones.
void JNICALL CallStaticVoidMethodV(JNIEnv*, jclass cls, jmethodID method, va_list args) {
  jstring argument = va_arg(args, jstring);
  const std::u16string* text = StringOf(argument);
  Record(std::string("CallStaticVoidMethod ") +
         (cls == reinterpret_cast<jclass>(&mainClass) && method == reinterpret_cast<jmethodID>(&entryMethod)
              ? "zobj/Run.runWithPath "
              : "unexpected ") +
         (text ? Utf8(*text) : "(not a string)"));
  if (failAt == "throw") Throw(u"java.lang.IllegalStateException: thrown by the test application");
}

void JNICALL CallStaticVoidMethod(JNIEnv* env, jclass cls, jmethodID method, ...) {
  va_list args;
  va_start(args, method);
  CallStaticVoidMethodV(env, cls, method, args);
  va_end(args);
}

jboolean JNICALL ExceptionCheck(JNIEnv*) { return pending.empty() ? JNI_FALSE : JNI_TRUE; }

jthrowable JNICALL ExceptionOccurred(JNIEnv*) {
  return pending.empty() ? nullptr : reinterpret_cast<jthrowable>(&throwable);
}

void JNICALL ExceptionDescribe(JNIEnv*) { Record("ExceptionDescribe " + Utf8(pending)); }

void JNICALL ExceptionClear(JNIEnv*) {
  if (!pending.empty()) Record("ExceptionClear");
  // The description stays with the throwable object for toString.
  strings[7] = pending;
  pending.clear();
}

jclass JNICALL GetObjectClass(JNIEnv*, jobject object) {
  return object == reinterpret_cast<jobject>(&throwable) ? reinterpret_cast<jclass>(&throwableClass)
                                                         : reinterpret_cast<jclass>(&otherClass);
}

jmethodID JNICALL GetMethodID(JNIEnv*, jclass, const char* name, const char* sig) {
  if (std::strcmp(name, "toString") == 0 && std::strcmp(sig, "()Ljava/lang/String;") == 0)
    return reinterpret_cast<jmethodID>(&toStringMethod);
  return nullptr;
}

jobject JNICALL CallObjectMethodV(JNIEnv*, jobject object, jmethodID method, va_list) {
  if (object == reinterpret_cast<jobject>(&throwable) &&
      method == reinterpret_cast<jmethodID>(&toStringMethod))
    return reinterpret_cast<jobject>(&strings[7]);
  return nullptr;
}

jobject JNICALL CallObjectMethod(JNIEnv* env, jobject object, jmethodID method, ...) {
  va_list args;
  va_start(args, method);
  jobject result = CallObjectMethodV(env, object, method, args);
  va_end(args);
  return result;
}

jsize JNICALL GetStringLength(JNIEnv*, jstring s) {
  const std::u16string* text = StringOf(s);
  return text ? static_cast<jsize>(text->size()) : 0;
}

const jchar* JNICALL GetStringChars(JNIEnv*, jstring s, jboolean* isCopy) {
  if (isCopy) *isCopy = JNI_FALSE;
  const std::u16string* text = StringOf(s);
  return text ? reinterpret_cast<const jchar*>(text->c_str()) : nullptr;
}

void JNICALL ReleaseStringChars(JNIEnv*, jstring, const jchar*) {}
void JNICALL DeleteLocalRef(JNIEnv*, jobject) {}

jint JNICALL DestroyJavaVM(JavaVM*) {
  Record(pending.empty() ? "DestroyJavaVM" : "DestroyJavaVM with a pending exception");
  return JNI_OK;
}

JNINativeInterface_ envFunctions;
JNIEnv_ env;
JNIInvokeInterface_ vmFunctions;
JavaVM_ vm;

void InitTables() {
  envFunctions.FindClass = FindClass;
  envFunctions.AllocObject = AllocObject;
  envFunctions.GetStaticMethodID = GetStaticMethodID;
  envFunctions.NewString = NewString;
  envFunctions.CallStaticVoidMethod = CallStaticVoidMethod;
  envFunctions.CallStaticVoidMethodV = CallStaticVoidMethodV;
  envFunctions.ExceptionCheck = ExceptionCheck;
  envFunctions.ExceptionOccurred = ExceptionOccurred;
  envFunctions.ExceptionDescribe = ExceptionDescribe;
  envFunctions.ExceptionClear = ExceptionClear;
  envFunctions.GetObjectClass = GetObjectClass;
  envFunctions.GetMethodID = GetMethodID;
  envFunctions.CallObjectMethod = CallObjectMethod;
  envFunctions.CallObjectMethodV = CallObjectMethodV;
  envFunctions.GetStringLength = GetStringLength;
  envFunctions.GetStringChars = GetStringChars;
  envFunctions.ReleaseStringChars = ReleaseStringChars;
  envFunctions.DeleteLocalRef = DeleteLocalRef;
  env.functions = &envFunctions;
  vmFunctions.DestroyJavaVM = DestroyJavaVM;
  vm.functions = &vmFunctions;
}

std::wstring CurrentFolder() {
  wchar_t buffer[MAX_PATH * 4];
  DWORD n = GetCurrentDirectoryW(MAX_PATH * 4, buffer);
  return std::wstring(buffer, n < MAX_PATH * 4 ? n : 0);
}

}  // namespace

extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** pvm, void** penv, void* rawArgs) {
  recordPath = CurrentFolder() + L"\\jvm-test-double.log";
  char control[64] = {};
  if (FILE* f = _wfopen((CurrentFolder() + L"\\jvm-test-double.txt").c_str(), L"rb")) {
    size_t n = fread(control, 1, sizeof control - 1, f);
    fclose(f);
    while (n > 0 && (control[n - 1] == '\n' || control[n - 1] == '\r' || control[n - 1] == ' ')) --n;
    control[n] = '\0';
  }
  failAt = control;
  Record("loaded in " + Utf8(loadedIn));

  auto* args = static_cast<JavaVMInitArgs*>(rawArgs);
  char head[160];
  std::snprintf(head, sizeof head, "JNI_CreateJavaVM version=0x%lx options=%ld ignoreUnrecognized=%d",
                static_cast<unsigned long>(args->version), static_cast<long>(args->nOptions),
                static_cast<int>(args->ignoreUnrecognized));
  Record(head);
  // Option strings are the ANSI code page's bytes: recorded as they are.
  for (jint i = 0; i < args->nOptions; ++i) Record(std::string("option ") + args->options[i].optionString);

  if (failAt == "create") return JNI_ENOMEM;
  InitTables();
  *pvm = &vm;
  *penv = &env;
  return JNI_OK;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) loadedIn = CurrentFolder();
  // A null `reserved` means FreeLibrary, not the end of the process.
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) Record("unloaded by FreeLibrary");
  return TRUE;
}
