/* Machine-dependent JNI types for a Windows Java runtime, used with the portable jni.h
 * when cross-compiling: a Windows JDK's own copy is not available on the build machine. */
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

/* LLP64: long is 32 bits on Windows, also in 64-bit code. */
typedef long jint;
typedef __int64 jlong;
typedef signed char jbyte;

#endif /* !_JAVASOFT_JNI_MD_H_ */
