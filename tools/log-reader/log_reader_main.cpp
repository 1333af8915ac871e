// log-reader: prints the plain lines of a launcher's t.log.
#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "base/text.h"
#include "branding.h"
#include "log_decoder.h"
#include "platform/args.h"
#include "platform/platform.h"

namespace {

const char kDescription[] =
    "Prints the lines of a launcher log (default: t.log in the current folder) as plain text,\n"
    "in the code page of the machine that wrote it.";

void Err(const std::wstring& text) { platform::WriteStderr(base::WideToUtf8(text) + "\n"); }

// Logs can be large; a file beyond this is not a launcher's t.log.
constexpr std::size_t kLargestLog = 256u << 20;

}  // namespace

int main(int argc, char** argv) {
  CLI::App app(kDescription, "log-reader");
  std::string keyText, pathText = "t.log";
  app.add_option("--key", keyText, "the log key, one byte written like 0x3C or 60 (default: this build's)")
      ->option_text("BYTE");
  app.add_option("LOG", pathText, "the log file")->option_text("t.log");

  // The command line as UTF-8 whatever the system's code page, back to wide text for paths.
  std::vector<std::string> args;
  for (const std::wstring& a : platform::CommandLineArguments(argc, argv)) args.push_back(base::WideToUtf8(a));
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    platform::WriteStdout(app.help());
    return 0;
  } catch (const CLI::ParseError& e) {
    platform::WriteStderr(std::string("log-reader: ") + e.what() + "\n" + app.help());
    return 2;
  }

  std::uint8_t key = branding::kLogKey;
  if (app.count("--key") > 0) {
    std::optional<std::uint8_t> parsed = ParseKey(keyText);
    if (!parsed) {
      Err(L"log-reader: --key needs one byte, like 0x3C");
      return 2;
    }
    key = *parsed;
  }

  const std::wstring path = base::Utf8ToWide(pathText);
  std::string bytes;
  platform::Error err;
  if (!platform::ReadWholeFile(path, kLargestLog, &bytes, &err)) {
    Err(L"log-reader: " + path + L": " + err.message);
    return 1;
  }

  std::string plain = DecodeLog(bytes, key);
  if (!plain.empty() && !LooksLikeLog(plain))
    Err(L"log-reader: warning: this does not read like a launcher log; is the key right?");
  platform::WriteStdout(plain);
  return 0;
}
