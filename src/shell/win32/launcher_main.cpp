// The Windows launcher: the progress dialog (template 102) in plain Win32 around the shared
// window model, the update worker on its own thread and, at 100 %, the Java application
// on this, the UI thread.
#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>
#include <thread>

#include "base/text.h"
#include "launch/launch_state.h"
#include "launch/user_texts.h"
#include "platform/http.h"
#include "platform/platform.h"
#include "resource.h"
#include "shell/launch_sequence.h"
#include "shell/window_model.h"

namespace {

// Dialog results besides IDOK / IDCANCEL (Enter / Escape).
constexpr INT_PTR kResultLaunch = 100;
constexpr INT_PTR kResultFailed = 101;

struct Dialog {
  explicit Dialog(std::shared_ptr<LaunchState> launch) : state(launch), model(std::move(launch)) {}
  std::shared_ptr<LaunchState> state;
  WindowModel model;
  HICON icon = nullptr;       // big: also the drag icon and the minimised picture
  HICON smallIcon = nullptr;
};

HICON LoadAppIcon(int metricX, int metricY) {
  return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME),
                                       IMAGE_ICON, GetSystemMetrics(metricX),
                                       GetSystemMetrics(metricY), LR_DEFAULTCOLOR));
}

// Every message box text also goes to standard error (when there is one): scripts and
// support staff can read what the user was shown.
void ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption) {
  platform::WriteStderr(base::WideToUtf8(L"[" + caption + L"] " + text + L"\n"));
  MessageBoxW(owner, text.c_str(), caption.c_str(), MB_OK);
}

void CentreOnWorkArea(HWND hwnd) {
  RECT window, area;
  GetWindowRect(hwnd, &window);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (GetMonitorInfoW(MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY), &info)) area = info.rcWork;
  else SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  int width = window.right - window.left, height = window.bottom - window.top;
  SetWindowPos(hwnd, nullptr, area.left + (area.right - area.left - width) / 2,
               area.top + (area.bottom - area.top - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void DrawProgressBar(HWND hwnd, const Dialog& d) {
  BarRect bar = d.model.Bar();
  RECT r{bar.left, bar.top, bar.right, bar.bottom};
  HDC dc = GetDC(hwnd);
  // An opaque empty text fills the rectangle in one solid colour.
  SetBkColor(dc, RGB(WindowModel::kBarRed, WindowModel::kBarGreen, WindowModel::kBarBlue));
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
  ReleaseDC(hwnd, dc);
}

void OnPaint(HWND hwnd, const Dialog& d) {
  PAINTSTRUCT ps;
  if (IsIconic(hwnd)) {
    HDC dc = BeginPaint(hwnd, &ps);
    SendMessageW(hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(hwnd, &client);
    DrawIcon(dc, (client.right - client.left - cx + 1) / 2, (client.bottom - client.top - cy + 1) / 2,
             d.icon);
    EndPaint(hwnd, &ps);
    return;
  }
  // The dialog's own painting (its background comes with WM_ERASEBKGND), then the bar.
  BeginPaint(hwnd, &ps);
  EndPaint(hwnd, &ps);
  DrawProgressBar(hwnd, d);
}

void OnTimer(HWND hwnd, Dialog& d) {
  WindowModel::TickResult r = d.model.Tick();
  if (r.stopTimer) KillTimer(hwnd, WindowModel::kTimerId);
  switch (r.step) {
    case WindowModel::Step::kIdle:
      return;
    case WindowModel::Step::kShowError:
      ShowMessage(hwnd, r.errorText, user_texts::UpdateFailureCaption());
      EndDialog(hwnd, kResultFailed);
      return;
    case WindowModel::Step::kAnimate:
    case WindowModel::Step::kLaunch:
      SetWindowTextW(hwnd, r.caption.c_str());
      InvalidateRect(hwnd, nullptr, TRUE);
      if (r.step == WindowModel::Step::kLaunch) EndDialog(hwnd, kResultLaunch);
      return;
  }
}

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* d = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      d = reinterpret_cast<Dialog*>(lParam);
      SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
      SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(d->icon));
      SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(d->smallIcon));
      CentreOnWorkArea(hwnd);
      SetTimer(hwnd, WindowModel::kTimerId, WindowModel::kTimerPeriodMs, nullptr);
      StartUpdateThread(d->state, UpdateSettings::ForThisProcess());
      return TRUE;
    case WM_TIMER:
      if (d != nullptr && wParam == WindowModel::kTimerId) OnTimer(hwnd, *d);
      return TRUE;
    case WM_PAINT:
      if (d == nullptr) return FALSE;
      OnPaint(hwnd, *d);
      return TRUE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(d != nullptr ? d->icon : nullptr);
    case WM_COMMAND:
      // Enter and Escape (and Alt+F4, which arrives as IDCANCEL) end the dialog.
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(hwnd, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  // Restarted by the system after an update or a hang, without application recovery.
  RegisterApplicationRestart(nullptr, 0);
  platform::InitHttp();

  auto state = std::make_shared<LaunchState>();
  Dialog dialog(state);
  dialog.icon = LoadAppIcon(SM_CXICON, SM_CYICON);
  dialog.smallIcon = LoadAppIcon(SM_CXSMICON, SM_CYSMICON);

  INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_LAUNCHER_DIALOG), nullptr,
                                   DialogProc, reinterpret_cast<LPARAM>(&dialog));
  int exitCode = 0;
  if (result == -1) {
    OutputDebugStringW(L"警告: 对话框创建失败，应用程序将意外终止。\n");
    exitCode = 1;
  } else if (result == kResultFailed) {
    exitCode = 1;
  } else if (result == kResultLaunch) {
    // The window has gone; the Java application runs on this thread until it has ended.
    LaunchResult launched = LaunchFinishedRun(*state);
    if (launched != LaunchResult::kRan) {
      ShowMessage(nullptr, user_texts::ForLaunchResult(launched), user_texts::LaunchFailureCaption());
      exitCode = 1;
    }
  }
  // The worker may still run (the window was closed early): end without static destructors.
  platform::ExitProcessNow(exitCode);
}
