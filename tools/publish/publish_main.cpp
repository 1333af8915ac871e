// publish: writes an application jar and its runtime libraries into a web server's folder
// as the launcher expects them, and prints the Config.ini line that points at them.
#include <string>
#include <vector>

#include "platform/args.h"
#include "platform/platform.h"
#include "publisher.h"

namespace {

const char kUsage[] =
    "usage: publish [options] JAR SERVER_FOLDER\n"
    "       publish --new-key FILE\n"
    "\n"
    "Writes JAR (a plain jar whose entry is zobj.Run.runWithPath) into SERVER_FOLDER:\n"
    "  FOLDER/<md5>.pak, its block index FOLDER/<md5>.pak.idx, FOLDER/update.txt,\n"
    "  FOLDER/libs.txt and install/runtime/lib/<library>,\n"
    "then prints the line for the launcher's Config.ini on standard output.\n"
    "Files that already hold the same bytes are left alone.\n"
    "\n"
    "options:\n"
    "  --libs DIR      publish every file directly in DIR as a runtime library\n"
    "  --folder PATH   the application's folder in SERVER_FOLDER (default: app)\n"
    "  --server URL    the URL at which SERVER_FOLDER is served\n"
    "                  (default: the server this launcher build fetches libraries from)\n"
    "  --name NAME     the jar's file name on the users' machines (default: JAR's name)\n"
    "  --key FILE      sign the package and every library with the private key in FILE,\n"
    "                  writing <file>.sig beside each (signed afresh at every publish)\n"
    "\n"
    "--new-key FILE writes a new private signing key to FILE (which must not exist; keep it\n"
    "off the web server) and prints the value for LAUNCHER_UPDATE_PUBLIC_KEY.\n";

void Err(const std::wstring& text) { platform::WriteStderr(platform::WideToUtf8(text) + "\n"); }

int Usage(const std::wstring& problem) {
  if (!problem.empty()) Err(L"publish: " + problem);
  platform::WriteStderr(kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::wstring> args = platform::CommandLineArguments(argc, argv);
  PublishRequest request;
  std::vector<std::wstring> positional;
  std::wstring newKeyPath;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    if (a == L"-h" || a == L"--help") {
      platform::WriteStdout(kUsage);
      return 0;
    }
    if (a == L"--libs" || a == L"--folder" || a == L"--server" || a == L"--name" ||
        a == L"--key" || a == L"--new-key") {
      if (i + 1 == args.size()) return Usage(a + L" needs a value");
      const std::wstring& value = args[++i];
      if (a == L"--libs") request.libsFolder = value;
      else if (a == L"--folder") request.folder = value;
      else if (a == L"--server") request.serverUrl = value;
      else if (a == L"--name") request.jarName = value;
      else if (a == L"--key") request.keyPath = value;
      else newKeyPath = value;
      continue;
    }
    if (a.size() > 1 && a[0] == L'-') return Usage(L"unknown option " + a);
    positional.push_back(a);
  }
  if (!newKeyPath.empty()) {
    if (args.size() != 2) return Usage(L"--new-key takes no other arguments");
    NewKeyResult key = CreateSigningKey(newKeyPath);
    if (!key.ok) {
      Err(L"publish: " + key.error);
      return 1;
    }
    Err(L"publish: wrote the private key to " + newKeyPath +
        L"; keep it safe and off the web server, and build the launcher with "
        L"-DLAUNCHER_UPDATE_PUBLIC_KEY=<the line below>");
    platform::WriteStdout(key.publicKeyText + "\n");
    return 0;
  }
  if (positional.size() != 2) return Usage(L"");
  request.jarPath = positional[0];
  request.serverRoot = positional[1];

  PublishResult result = Publish(request);
  for (const std::wstring& w : result.warnings) Err(L"publish: warning: " + w);
  if (!result.ok) {
    Err(L"publish: " + result.error);
    return 1;
  }
  for (const std::wstring& f : result.written) Err(L"wrote     " + f);
  for (const std::wstring& f : result.unchanged) Err(L"unchanged " + f);
  platform::WriteStdout(platform::WideToUtf8(result.configLine) + "\n");
  return 0;
}
