#include "platform/jvm_environment.h"

#include <langinfo.h>
#include <locale.h>
#include <stdlib.h>
#include <string.h>

#include "base/text.h"

namespace platform {

std::vector<std::wstring> RuntimeLibraryCandidates() {
  // The layout of a jlink'd runtime.
  return {L"java/lib/server/libjvm.so"};
}

namespace {

const char* NonEmptyEnv(const char* name) {
  const char* value = getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

// Whether a locale name exists on this system and has UTF-8 characters.
bool IsUtf8Locale(const char* name) {
  locale_t locale = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return false;
  const char* codeset = nl_langinfo_l(CODESET, locale);
  bool utf8 = codeset != nullptr && (strcmp(codeset, "UTF-8") == 0 || strcmp(codeset, "utf8") == 0);
  freelocale(locale);
  return utf8;
}

}  // namespace

std::wstring PrepareLocaleForJvm() {
  // The character type the VM's setlocale(LC_ALL, "") will take from the environment.
  const char* allValue = NonEmptyEnv("LC_ALL");
  const char* ctype = allValue ? allValue : NonEmptyEnv("LC_CTYPE");
  if (ctype == nullptr) ctype = NonEmptyEnv("LANG");
  std::string current = ctype ? ctype : "C";
  if (IsUtf8Locale(current.c_str())) return {};

  // Prefer the same language in UTF-8 (zh_CN.GBK -> zh_CN.UTF-8), so that the application's
  // formats stay the user's; otherwise the C locale's UTF-8 form.
  std::string language = current.substr(0, current.find_first_of(".@"));
  std::string chosen;
  for (std::string candidate : {language + ".UTF-8", std::string("C.UTF-8"), std::string("en_US.UTF-8")}) {
    if (candidate != ".UTF-8" && IsUtf8Locale(candidate.c_str())) {
      chosen = candidate;
      break;
    }
  }
  if (chosen.empty()) return {};
  // LC_ALL would override LC_CTYPE: hand its value to LANG so the other categories keep it.
  if (allValue != nullptr) {
    std::string all = allValue;
    setenv("LANG", all.c_str(), 1);
    unsetenv("LC_ALL");
  }
  setenv("LC_CTYPE", chosen.c_str(), 1);
  return base::Utf8ToWide(chosen);
}

}  // namespace platform
