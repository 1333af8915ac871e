// log-reader: prints the plain lines of a launcher's t.log.
#include <string>
#include <vector>

#include "base/text.h"
#include "branding.h"
#include "log_decoder.h"
#include "platform/args.h"
#include "platform/platform.h"

namespace {

const char kUsage[] =
    "usage: log-reader [--key BYTE] [LOG]\n"
    "\n"
    "Prints the lines of a launcher log (default: t.log in the current folder) as plain text,\n"
    "in the code page of the machine that wrote it. BYTE is the log key (default: this\n"
    "build's), written like 0x3C or 60.\n";

void Err(const std::wstring& text) { platform::WriteStderr(base::WideToUtf8(text) + "\n"); }

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::wstring> args = platform::CommandLineArguments(argc, argv);
  std::uint8_t key = branding::kLogKey;
  std::wstring path = L"t.log";
  bool havePath = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    if (a == L"-h" || a == L"--help") {
      platform::WriteStdout(kUsage);
      return 0;
    }
    if (a == L"--key") {
      std::optional<std::uint8_t> parsed;
      if (i + 1 < args.size()) parsed = ParseKey(base::WideToUtf8(args[++i]));
      if (!parsed) {
        Err(L"log-reader: --key needs one byte, like 0x3C");
        return 2;
      }
      key = *parsed;
      continue;
    }
    if (havePath || (a.size() > 1 && a[0] == L'-')) {
      platform::WriteStderr(kUsage);
      return 2;
    }
    path = a;
    havePath = true;
  }

  platform::File file;
  platform::Error err;
  std::string bytes;
  if (file.Open(path, platform::OpenMode::kReadShared, &err)) {
    char buffer[65536];
    for (;;) {
      size_t got = 0;
      if (!file.Read(buffer, sizeof buffer, &got, &err)) {
        Err(L"log-reader: " + path + L": " + err.message);
        return 1;
      }
      if (got == 0) break;
      bytes.append(buffer, got);
    }
  } else {
    Err(L"log-reader: " + path + L": " + err.message);
    return 1;
  }

  std::string plain = DecodeLog(bytes, key);
  if (!plain.empty() && !LooksLikeLog(plain))
    Err(L"log-reader: warning: this does not read like a launcher log; is the key right?");
  platform::WriteStdout(plain);
  return 0;
}
