#include "launch/user_texts.h"

#include <gtest/gtest.h>

#include "branding.h"

// The texts users see and support staff search for: exactly as the launcher has always
// shown them, misspelling and doubled word included.
TEST(UserTexts, EveryFailureHasItsFixedText) {
  const struct {
    UpdateFailure failure;
    const wchar_t* text;
  } cases[] = {
      {UpdateFailure::kWorkingFolder, L"创建文档目录出错！"},
      {UpdateFailure::kJavaRuntime, L"本地JAVA环境出错，请重新重新安装软件！"},
      {UpdateFailure::kConfigFile, L"找不到本地配置文件！"},
      {UpdateFailure::kConfigContent, L"本地配置文件内容有误！"},
      {UpdateFailure::kVersionFile, L"下载版本控制文件出错！"},
      {UpdateFailure::kPackageDownload, L"下载执行文件出错！"},
      {UpdateFailure::kJarWrite, L"写入执行文件出错！"},
      {UpdateFailure::kSignature, L"更新文件签名无效！"},
  };
  for (const auto& c : cases) EXPECT_EQ(std::wstring(user_texts::ForUpdateFailure(c.failure)), c.text);
}

TEST(UserTexts, CaptionsAndLaunchCodes) {
  const std::wstring contact = branding::kSupportContact;
  EXPECT_EQ(std::wstring(user_texts::InitialCaption()), L"正在检测更新");
  EXPECT_EQ(user_texts::UpdateFailureCaption(), L"客服QQ：" + contact);
  EXPECT_EQ(std::wstring(user_texts::LaunchFailureCaption()), L"启动");
  const struct {
    LaunchResult result;
    int code;
  } codes[] = {{LaunchResult::kNoJar, 1},
               {LaunchResult::kRuntimeNotLoadable, 2},
               {LaunchResult::kVmNotCreated, 3},
               {LaunchResult::kMainClassMissing, 4},
               {LaunchResult::kEntryMethodMissing, 5}};
  for (const auto& c : codes) {
    EXPECT_EQ(static_cast<int>(c.result), c.code);
    EXPECT_EQ(user_texts::ForLaunchResult(c.result),
              L"软件启动出错，请联系客服QQ：" + contact + L"。cod=" + std::to_wstring(c.code));
  }
  EXPECT_EQ(static_cast<int>(LaunchResult::kRan), 0);
  EXPECT_EQ(user_texts::ProgressCaption(42, L"|"), L"正在检查更新：42%   |");
}
