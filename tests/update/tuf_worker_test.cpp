// The launcher's signed mode end to end, against repositories that @tufjs/models wrote
// (tuf/make_repositories.js, run by the test setup): the update run of a launcher built with
// a case's root, step after step against the suite's own server, each step's server folder
// and what it must leave taken from the repositories' manifest, the table of cases.
//
// Each refused step must leave the installed jar as it was and still launch it; each
// accepted one must install exactly the signed bytes.
#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "base/text.h"
#include "branding.h"
#include "diagnostics/log.h"
#include "launch/user_texts.h"
#include "platform/http.h"
#include "platform/platform.h"
#include "support/http_server.h"
#include "support/test_support.h"
#include "update/tuf/installation.h"
#include "update/tuf/metadata.h"
#include "update/update_worker.h"

namespace fs = std::filesystem;
using nlohmann::json;
using testing_support::ReadBytes;
using testing_support::WriteBytes;
using Lines = std::vector<std::string>;

namespace {

fs::path Repositories() { return testing_support::ExecutableDir() / "tuf-repositories"; }

json Manifest() {
  std::string text = ReadBytes(Repositories() / "manifest.json");
  json manifest = json::parse(text, nullptr, false);
  EXPECT_FALSE(manifest.is_discarded()) << "no manifest: run the tuf_repositories fixture";
  return manifest.is_discarded() ? json::object() : manifest;
}

std::optional<UpdateFailure> FailureNamed(const std::string& name) {
  if (name == "version") return UpdateFailure::kVersionFile;
  if (name == "package") return UpdateFailure::kPackageDownload;
  if (name == "signature") return UpdateFailure::kSignature;
  if (name == "write") return UpdateFailure::kJarWrite;
  return std::nullopt;
}

std::wstring TextOf(std::optional<UpdateFailure> failure) {
  return failure ? user_texts::ForUpdateFailure(*failure) : L"";
}

using tuf_testing::Installation;

void CheckStep(const Installation& in, const json& expect, const Lines& requests, const std::string& folder) {
  const std::optional<UpdateFailure> failure = FailureNamed(expect.value("error", ""));
  EXPECT_EQ(TextOf(in.state->Failure()), TextOf(failure));
  const std::optional<LaunchPlan> plan = in.state->Plan();
  EXPECT_EQ(plan.has_value(), !failure.has_value());

  const fs::path jar = in.workDir / "main.jar";
  if (expect["jar"].is_null()) {
    EXPECT_FALSE(fs::is_regular_file(jar));
  } else {
    const std::string wanted = ReadBytes(Repositories() / "jars" / (expect["jar"].get<std::string>() + ".pak"));
    // Compared without EXPECT_EQ, which would print kilobytes of a jar.
    EXPECT_TRUE(fs::exists(jar) && ReadBytes(jar) == wanted) << "main.jar is not " << expect["jar"];
  }
  if (plan && expect.contains("classPath")) {
    std::vector<std::wstring> wanted;
    for (const json& entry : expect["classPath"])
      wanted.push_back(platform::JoinPath(in.workDir.wstring(),
                                          platform::ToNativeSeparators(base::Utf8ToWide(entry.get<std::string>()))));
    EXPECT_EQ(plan->libraries, wanted);
  }
  for (const json& entry : expect.value("libs", json::array()))
    EXPECT_TRUE(fs::exists(in.workDir / entry.get<std::string>())) << entry;
  for (const json& entry : expect.value("files", json::array()))
    EXPECT_TRUE(fs::is_regular_file(in.workDir / entry.get<std::string>())) << entry;

  const Lines log = in.LogLines();
  std::string logText;
  for (const std::string& line : log) logText += "\n  " + line;
  for (const json& line : expect.value("logs", json::array()))
    EXPECT_TRUE(std::find(log.begin(), log.end(), line.get<std::string>()) != log.end()) << "t.log lacks " << line << ", it holds:" << logText;
  for (const json& start : expect.value("logStarts", json::array())) {
    const std::string prefix = start.get<std::string>();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }))
        << "t.log has no line starting " << prefix << ", it holds:" << logText;
  }
  if (expect.contains("requests")) {
    Lines wanted;
    for (const json& r : expect["requests"]) wanted.push_back(r.get<std::string>());
    EXPECT_EQ(requests, wanted);
  }
  const json rangeStarts = expect.value("rangeStarts", json::object());
  for (const auto& [name, starts] : rangeStarts.items()) {
    std::vector<std::int64_t> wanted;
    for (const json& start : starts) wanted.push_back(start.get<std::int64_t>());
    EXPECT_EQ(testing_support::TestHttpServer::Get().RangeStarts(folder + name), wanted) << name;
  }
  for (const json& name : expect.value("storeHas", json::array()))
    EXPECT_TRUE(fs::exists(in.workDir / "tuf" / name.get<std::string>())) << name;
  for (const json& name : expect.value("storeLacks", json::array()))
    EXPECT_FALSE(fs::exists(in.workDir / "tuf" / name.get<std::string>())) << name;
  if (expect.contains("noPartialLargerThan")) {
    const std::uintmax_t bound = expect["noPartialLargerThan"].get<std::uintmax_t>();
    for (auto& e : fs::recursive_directory_iterator(in.workDir)) {
      if (!e.is_regular_file() || e.path().filename() == "t.log") continue;
      EXPECT_LE(e.file_size(), bound) << e.path();
      EXPECT_EQ(e.path().string().find(".part"), std::string::npos) << e.path();
    }
  }
  // The working folder is on the class path: nothing of a download stays in it.
  for (auto& e : fs::directory_iterator(in.workDir))
    EXPECT_EQ(e.path().filename().string().find(".pak.part-"), std::string::npos) << e.path();
}

TEST(SignedUpdate, RepositoriesWrittenByTufJsModels) {
  testing_support::TestHttpServer& server = testing_support::TestHttpServer::Get();
  platform::InitHttp();
  const std::string prefix = testing_support::UniqueServerFolder();
  const json manifest = Manifest();
  ASSERT_TRUE(manifest.contains("cases"));
  for (const json& c : manifest["cases"]) {
    SCOPED_TRACE(c["name"].get<std::string>());
    Installation in(ReadBytes(Repositories() / c["root"].get<std::string>()));
    int index = 0;
    for (const json& step : c["steps"]) {
      SCOPED_TRACE("step " + std::to_string(index++));
      const std::string folder = prefix + step["folder"].get<std::string>() + "/";
      for (const json& file : step["files"]) {
        const std::string name = file.get<std::string>();
        server.Put(folder + name, ReadBytes(Repositories() / step["folder"].get<std::string>() / name));
      }
      for (const auto& [name, directives] : step["behave"].items()) server.Behave(folder + name, directives);
      // A folder in the jar's place: no rename can put the package over it, on either system.
      if (step.value("blockJar", false)) {
        fs::create_directories(in.workDir / "main.jar");
        WriteBytes(in.workDir / "main.jar" / "inside", "kept");
      } else if (fs::is_directory(in.workDir / "main.jar")) {
        fs::remove_all(in.workDir / "main.jar");
      }
      const std::string clock = step.value("clock", "");
      in.Run(server.Url(folder + "main.jar"),
             clock.empty() ? std::nullopt : std::optional<std::int64_t>(update::tuf::ParseTime(clock).value_or(0)));
      Lines requests;
      for (const std::string& path : server.Requests(folder)) requests.push_back(path.substr(folder.size()));
      CheckStep(in, step["expect"], requests, folder);
      // Signed mode reads nothing else of the server.
      for (const std::string& r : requests) EXPECT_EQ(r.rfind("tuf/", 0), 0u) << r;
      EXPECT_TRUE(server.Requests(tuf_testing::kNoRuntimeLibraries).empty());
    }
  }
}

}  // namespace
