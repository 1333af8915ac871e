#include "launch/user_texts.h"

#include "branding.h"
#include "diagnostics/format.h"

namespace user_texts {

const wchar_t* ForUpdateFailure(UpdateFailure failure) {
  switch (failure) {
    case UpdateFailure::kWorkingFolder: return L"创建文档目录出错！";
    case UpdateFailure::kJavaRuntime: return L"本地JAVA环境出错，请重新重新安装软件！";
    case UpdateFailure::kConfigFile: return L"找不到本地配置文件！";
    case UpdateFailure::kConfigContent: return L"本地配置文件内容有误！";
    case UpdateFailure::kVersionFile: return L"下载版本控制文件出错！";
    case UpdateFailure::kPackageDownload: return L"下载执行文件出错！";
    case UpdateFailure::kJarWrite: return L"写入执行文件出错！";
    case UpdateFailure::kSignature: return L"更新文件签名无效！";
  }
  return L"";
}

std::wstring UpdateFailureCaption() { return std::wstring(L"客服QQ：") + branding::kSupportContact; }

std::wstring ForLaunchResult(LaunchResult result) {
  return diagnostics::FormatWide(L"软件启动出错，请联系客服QQ：%s。cod=%d",
                                 {branding::kSupportContact, static_cast<int>(result)});
}

const wchar_t* LaunchFailureCaption() { return L"启动"; }

const wchar_t* InitialCaption() { return L"正在检测更新"; }

std::wstring ProgressCaption(int shownProgress, const wchar_t* spinnerFrame) {
  return diagnostics::FormatWide(L"正在检查更新：%d%%   %s", {shownProgress, spinnerFrame});
}

}  // namespace user_texts
