// publish: writes an application jar and its runtime libraries into a web server's folder
// as the launcher expects them, and prints the Config.ini line that points at them; with
// key folders it also signs the release for launchers built with a root, and it makes,
// refreshes and rotates those keys.
#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "base/text.h"
#include "platform/args.h"
#include "platform/platform.h"
#include "publisher.h"
#include "tuf_keys.h"
#include "tuf_repository.h"

namespace {

using publish::Role;

const char kSynopsis[] =
    "usage: publish [options] JAR SERVER_FOLDER\n"
    "       publish --new-keys DIR [--role ROLE]... [--threshold ROLE=N]... [--key-count ROLE=N]...\n"
    "       publish --refresh --keys DIR... [--folder PATH] [--expires ROLE=DAYS]... SERVER_FOLDER\n"
    "       publish --rotate-keys NEWDIR --keys DIR... [--folder PATH] [--threshold ROLE=N]...\n"
    "               [--expires ROLE=DAYS]... SERVER_FOLDER\n";

const char kDescription[] =
    "Writes JAR (a plain jar whose entry is zobj.Run.runWithPath) into SERVER_FOLDER:\n"
    "  FOLDER/<md5>.pak, its block index FOLDER/<md5>.pak.idx, FOLDER/update.txt,\n"
    "  FOLDER/libs.txt and install/runtime/lib/<library>,\n"
    "then prints the line for the launcher's Config.ini on standard output.\n"
    "Files that already hold the same bytes are left alone.\n"
    "With --keys it also signs the release for launchers built with a root (FOLDER/tuf/).";

const char kFooter[] =
    "ROLE is root, targets, snapshot or timestamp. Key folders hold <role>.pem (more keys of a\n"
    "role: <role>-2.pem, <role>-3.pem ...) and root.json; --keys may be given once per folder\n"
    "(the offline root and targets keys, the online snapshot and timestamp keys).\n"
    "Metadata expires after root 365, targets 90, snapshot 7, timestamp 1 days unless --expires\n"
    "says otherwise; run --refresh well within the timestamp's time (every hour, say).\n";

// The synopsis in place of CLI11's one-line usage, which cannot tell the four forms apart.
class Formatter : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode mode) const override {
    return std::string(kSynopsis) + "\n" + make_description(app) + make_groups(app, mode) + "\n" +
           make_footer(app);
  }
};

void Err(const std::wstring& text) { platform::WriteStderr(base::WideToUtf8(text) + "\n"); }

int Usage(const CLI::App& app, const std::string& problem) {
  if (!problem.empty()) platform::WriteStderr("publish: " + problem + "\n");
  platform::WriteStderr(app.help());
  return 2;
}

int Fail(const base::Failure& failure) {
  Err(L"publish: " + failure.reason);
  return 1;
}

// "ROLE=N" with N from 1 to `max`.
std::string ParseRoleNumbers(const std::vector<std::string>& texts, int max, std::map<Role, int>* out) {
  for (const std::string& text : texts) {
    const std::size_t equals = text.find('=');
    auto role = publish::RoleFromName(text.substr(0, equals));
    const std::string digits = equals == std::string::npos ? "" : text.substr(equals + 1);
    if (!role) return "not ROLE=N with a role of root, targets, snapshot, timestamp: " + text;
    if (digits.empty() || digits.size() > 5 || digits[0] == '0' ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        std::stoi(digits) > max)
      return "not a number from 1 to " + std::to_string(max) + ": " + text;
    (*out)[*role] = std::stoi(digits);
  }
  return "";
}

void PrintReport(const publish::PublishReport& report) {
  for (const std::wstring& w : report.warnings) Err(L"publish: warning: " + w);
  for (const std::wstring& f : report.written) Err(L"wrote     " + f);
  for (const std::wstring& f : report.unchanged) Err(L"unchanged " + f);
  for (const std::wstring& f : report.removed) Err(L"removed   " + f);
}

std::vector<std::wstring> Wide(const std::vector<std::string>& texts) {
  std::vector<std::wstring> wide;
  for (const std::string& text : texts) wide.push_back(base::Utf8ToWide(text));
  return wide;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app(kDescription, "publish");
  app.formatter(std::make_shared<Formatter>());
  app.footer(kFooter);

  std::string libs, folder = "app", server, name, newKeys, rotateKeys;
  std::vector<std::string> keys, expires, thresholds, keyCounts, roles, positional;
  bool refresh = false;
  app.add_option("--libs", libs, "publish every file directly in DIR as a runtime library")->type_name("DIR");
  app.add_option("--folder", folder, "the application's folder in SERVER_FOLDER (default: app)")
      ->type_name("PATH");
  app.add_option("--server", server,
                 "the URL at which SERVER_FOLDER is served\n"
                 "(default: the server this launcher build fetches libraries from)")
      ->type_name("URL");
  app.add_option("--name", name, "the jar's file name on the users' machines (default: JAR's name)")
      ->type_name("NAME");
  app.add_option("--keys", keys, "sign with the keys in DIR (once per folder)")
      ->type_name("DIR")
      ->allow_extra_args(false);
  app.add_option("--expires", expires, "days until ROLE's metadata expires, when this run signs it")
      ->type_name("ROLE=DAYS")
      ->allow_extra_args(false);
  app.add_option("--new-keys", newKeys,
                 "write new keys and root.json (to build launchers with) into DIR,\n"
                 "which must not hold them yet")
      ->type_name("DIR");
  app.add_option("--role", roles, "with --new-keys: only this role's keys (no root.json)")
      ->type_name("ROLE")
      ->allow_extra_args(false);
  app.add_option("--threshold", thresholds,
                 "how many of ROLE's keys must sign (default 1; a rotation keeps the old one)")
      ->type_name("ROLE=N")
      ->allow_extra_args(false);
  app.add_option("--key-count", keyCounts, "with --new-keys: how many keys ROLE gets (default: its threshold)")
      ->type_name("ROLE=N")
      ->allow_extra_args(false);
  app.add_flag("--refresh", refresh, "sign the published release's snapshot and timestamp anew");
  app.add_option("--rotate-keys", rotateKeys,
                 "publish the next root, with the keys in NEWDIR in place of the old ones of\n"
                 "their roles, signed by the old and the new root keys")
      ->type_name("NEWDIR");
  app.add_option("arguments", positional)->group("");

  // CLI11 takes UTF-8 here: the wide command line, so that no name is lost to a code page.
  std::vector<std::string> args;
  for (const std::wstring& arg : platform::CommandLineArguments(argc, argv))
    args.push_back(base::WideToUtf8(arg));
  std::reverse(args.begin(), args.end());
  try {
    app.parse(args);
  } catch (const CLI::CallForHelp&) {
    platform::WriteStdout(app.help());
    return 0;
  } catch (const CLI::ParseError& e) {
    return Usage(app, e.what());
  }

  std::map<Role, int> expiresDays, thresholdOf, countOf;
  for (auto [texts, max, out] : {std::tuple{&expires, publish::Expiry::kMaxDays, &expiresDays},
                                 std::tuple{&thresholds, 100, &thresholdOf},
                                 std::tuple{&keyCounts, 100, &countOf}}) {
    std::string problem = ParseRoleNumbers(*texts, max, out);
    if (!problem.empty()) return Usage(app, problem);
  }
  std::vector<Role> roleList;
  for (const std::string& role : roles) {
    auto parsed = publish::RoleFromName(role);
    if (!parsed) return Usage(app, "not a role (root, targets, snapshot, timestamp): " + role);
    roleList.push_back(*parsed);
  }
  publish::SigningRequest signing;
  signing.keyFolders = Wide(keys);
  signing.expiry.days = expiresDays;

  const bool releaseOptions = !libs.empty() || app.count("--folder") || !server.empty() || !name.empty();
  const bool keyOptions = !roles.empty() || !keyCounts.empty();
  if (!newKeys.empty()) {
    if (!positional.empty() || releaseOptions || !keys.empty() || refresh || !rotateKeys.empty())
      return Usage(app, "--new-keys takes no other arguments than --role, --threshold, --key-count and --expires");
    publish::KeyPlan plan{countOf, thresholdOf};
    auto made = publish::CreateKeys(base::Utf8ToWide(newKeys), roleList, plan,
                                    signing.expiry.DaysOf(Role::kRoot), publish::Now());
    if (!made) return Fail(made.failure());
    for (const std::wstring& f : made->written) Err(L"wrote     " + f);
    if (made->rootPath.empty()) {
      Err(L"publish: rotate them in with --rotate-keys " + base::Utf8ToWide(newKeys));
      return 0;
    }
    Err(L"publish: keep root.pem and targets.pem offline and snapshot.pem and timestamp.pem on the "
        L"publishing machine only, never on the web server; build the launcher with "
        L"-DLAUNCHER_UPDATE_ROOT=<the file below>");
    platform::WriteStdout(base::WideToUtf8(made->rootPath) + "\n");
    return 0;
  }
  if (keyOptions) return Usage(app, "--role and --key-count go with --new-keys only");

  publish::PublishReport report;
  if (refresh || !rotateKeys.empty()) {
    if (refresh && !rotateKeys.empty()) return Usage(app, "--refresh and --rotate-keys are two runs");
    if (positional.size() != 1 || keys.empty() || !libs.empty() || !server.empty() || !name.empty() ||
        (refresh && !thresholds.empty()))
      return Usage(app, std::string(refresh ? "--refresh" : "--rotate-keys") +
                            " takes --keys, --folder, --expires" + (refresh ? "" : ", --threshold") +
                            " and SERVER_FOLDER");
    const std::wstring serverRoot = base::Utf8ToWide(positional[0]);
    base::Status status =
        refresh ? publish::Refresh(serverRoot, base::Utf8ToWide(folder), signing, &report)
                : publish::RotateKeys(serverRoot, base::Utf8ToWide(folder), base::Utf8ToWide(rotateKeys),
                                      thresholdOf, signing, &report);
    PrintReport(report);
    if (!status) return Fail(status.failure());
    if (!report.rootPath.empty()) {
      Err(L"publish: launchers built with an older root follow the rotation; build new ones with "
          L"-DLAUNCHER_UPDATE_ROOT=<the file below>");
      platform::WriteStdout(base::WideToUtf8(report.rootPath) + "\n");
    }
    return 0;
  }

  if (!thresholds.empty()) return Usage(app, "--threshold goes with --new-keys and --rotate-keys only");
  if (positional.size() != 2) return Usage(app, positional.empty() ? "" : "JAR and SERVER_FOLDER, no more, no less");
  publish::PublishRequest request;
  request.jarPath = base::Utf8ToWide(positional[0]);
  request.serverRoot = base::Utf8ToWide(positional[1]);
  request.libsFolder = base::Utf8ToWide(libs);
  request.folder = base::Utf8ToWide(folder);
  request.serverUrl = base::Utf8ToWide(server);
  request.jarName = base::Utf8ToWide(name);
  request.signing = signing;
  base::Status status = publish::Publish(request, &report);
  PrintReport(report);
  if (!status) return Fail(status.failure());
  platform::WriteStdout(base::WideToUtf8(report.configLine) + "\n");
  return 0;
}
