// What the tests of the HTTP fetch and of the library synchronisation share: their own
// folder on the test server, a fresh working folder as the current directory and a t.log
// started afresh in it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "branding.h"
#include "diagnostics/log.h"
#include "platform/http.h"
#include "platform/platform.h"
#include "support/http_server.h"
#include "support/test_support.h"

class HttpCase : public ::testing::Test {
 protected:
  HttpCase()
      : server(testing_support::TestHttpServer::Get()),
        folder(testing_support::UniqueServerFolder()),
        cd(work.Path()) {
    platform::InitHttp();
    theLog.StartAt((work / "t.log").wstring());
  }
  ~HttpCase() override { theLog.StartAt(L""); }

  std::wstring Url(const std::string& name) const { return server.Url(folder + name); }
  std::vector<std::string> Requests() const { return server.Requests(folder); }

  // The messages of t.log, without their timestamps.
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    for (const std::string& line : testing_support::DecodeLogLines(work / "t.log", branding::kLogKey)) {
      size_t close = line.find(']');
      lines.push_back(close == std::string::npos ? line : line.substr(close + 1));
    }
    return lines;
  }

  static std::string Narrow(const std::wstring& text) { return base::WideToUtf8(text); }

  testing_support::TestHttpServer& server;
  std::string folder;
  testing_support::TempDir work;
  testing_support::ScopedCurrentDir cd;
};

using testing_support::BinaryBody;
