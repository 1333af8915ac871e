// The Linux launcher: the progress window in GTK 3 around the shared window model, the
// update worker on its own thread and, at 100 %, the Java application on this thread.
// Without a display it does the same without a window; every message box text also goes
// to standard error.
#include <gtk/gtk.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "base/text.h"
#include "launch/launch_state.h"
#include "launch/user_texts.h"
#include "platform/http.h"
#include "platform/platform.h"
#include "shell/launch_sequence.h"
#include "shell/window_model.h"

namespace {

// Client size of the Windows dialog (378 x 39 dialog units in 9 pt "MS Shell Dlg").
constexpr int kClientWidth = 661;
constexpr int kClientHeight = 73;

enum class Outcome { kClosed, kFailed, kLaunch };

std::string Utf8(const std::wstring& text) { return base::WideToUtf8(text); }

struct ProgressWindow {
  explicit ProgressWindow(std::shared_ptr<LaunchState> state) : model(std::move(state)) {}
  WindowModel model;
  GtkWidget* window = nullptr;
  GtkWidget* canvas = nullptr;
  Outcome outcome = Outcome::kClosed;
  bool ended = false;
};

// Every message box text also goes to standard error: scripts and support staff can read
// what the user was shown, and without a display it is the only place it appears.
void Report(const std::wstring& caption, const std::wstring& text) {
  platform::WriteStderr(Utf8(L"[" + caption + L"] " + text + L"\n"));
}

void ShowMessage(GtkWindow* parent, const std::wstring& text, const std::wstring& caption) {
  Report(caption, text);
  GtkWidget* box = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
                                          GTK_BUTTONS_OK, "%s", Utf8(text).c_str());
  gtk_window_set_title(GTK_WINDOW(box), Utf8(caption).c_str());
  gtk_widget_set_size_request(box, 300, -1);  // room for the whole caption
  gtk_window_set_position(GTK_WINDOW(box),
                          parent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
  gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);
}

void EndWindow(ProgressWindow& w, Outcome outcome) {
  if (w.ended) return;
  w.ended = true;
  w.outcome = outcome;
  gtk_main_quit();
}

gboolean OnDraw(GtkWidget*, cairo_t* cr, gpointer data) {
  auto& w = *static_cast<ProgressWindow*>(data);
  BarRect bar = w.model.Bar();
  if (bar.right > bar.left) {
    cairo_set_source_rgb(cr, WindowModel::kBarRed / 255.0, WindowModel::kBarGreen / 255.0,
                         WindowModel::kBarBlue / 255.0);
    cairo_rectangle(cr, bar.left, bar.top, bar.right - bar.left, bar.bottom - bar.top);
    cairo_fill(cr);
  }
  return FALSE;
}

gboolean OnTick(gpointer data) {
  auto& w = *static_cast<ProgressWindow*>(data);
  if (w.ended) return G_SOURCE_REMOVE;
  WindowModel::TickResult r = w.model.Tick();
  switch (r.step) {
    case WindowModel::Step::kIdle:
      return G_SOURCE_REMOVE;
    case WindowModel::Step::kShowError:
      ShowMessage(GTK_WINDOW(w.window), r.errorText, user_texts::UpdateFailureCaption());
      EndWindow(w, Outcome::kFailed);
      return G_SOURCE_REMOVE;
    case WindowModel::Step::kAnimate:
    case WindowModel::Step::kLaunch:
      gtk_window_set_title(GTK_WINDOW(w.window), Utf8(r.caption).c_str());
      gtk_widget_queue_draw(w.canvas);
      if (r.step == WindowModel::Step::kLaunch) EndWindow(w, Outcome::kLaunch);
      break;
  }
  return r.stopTimer ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
}

// Enter and Escape end the window, as they end a dialog on Windows.
gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer data) {
  switch (event->keyval) {
    case GDK_KEY_Escape:
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
      EndWindow(*static_cast<ProgressWindow*>(data), Outcome::kClosed);
      return TRUE;
    default:
      return FALSE;
  }
}

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
  EndWindow(*static_cast<ProgressWindow*>(data), Outcome::kClosed);
  return TRUE;
}

void StartWorker(const std::shared_ptr<LaunchState>& state) {
  StartUpdateThread(state, UpdateSettings::ForThisProcess());
}

Outcome RunWindow(const std::shared_ptr<LaunchState>& state) {
  ProgressWindow w(state);
  w.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(w.window), Utf8(user_texts::InitialCaption()).c_str());
  gtk_window_set_resizable(GTK_WINDOW(w.window), FALSE);
  gtk_window_set_deletable(GTK_WINDOW(w.window), FALSE);
  gtk_window_set_position(GTK_WINDOW(w.window), GTK_WIN_POS_CENTER);
  w.canvas = gtk_drawing_area_new();
  gtk_widget_set_size_request(w.canvas, kClientWidth, kClientHeight);
  gtk_container_add(GTK_CONTAINER(w.window), w.canvas);
  g_signal_connect(w.canvas, "draw", G_CALLBACK(OnDraw), &w);
  g_signal_connect(w.window, "key-press-event", G_CALLBACK(OnKey), &w);
  g_signal_connect(w.window, "delete-event", G_CALLBACK(OnDelete), &w);
  gtk_widget_show_all(w.window);

  g_timeout_add(WindowModel::kTimerPeriodMs, OnTick, &w);
  StartWorker(state);
  gtk_main();

  gtk_widget_destroy(w.window);
  // Let the window disappear before the Java application takes this thread.
  while (gtk_events_pending()) gtk_main_iteration();
  return w.outcome;
}

Outcome RunHeadless(const std::shared_ptr<LaunchState>& state) {
  WindowModel model(state);
  StartWorker(state);
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(WindowModel::kTimerPeriodMs));
    WindowModel::TickResult r = model.Tick();
    if (r.step == WindowModel::Step::kShowError) {
      Report(user_texts::UpdateFailureCaption(), r.errorText);
      return Outcome::kFailed;
    }
    if (r.step == WindowModel::Step::kLaunch) return Outcome::kLaunch;
  }
}

}  // namespace

int main(int argc, char** argv) {
  platform::InitHttp();
  auto state = std::make_shared<LaunchState>();

  const bool display = gtk_init_check(&argc, &argv);
  Outcome outcome = display ? RunWindow(state) : RunHeadless(state);

  int exitCode = outcome == Outcome::kFailed ? 1 : 0;
  if (outcome == Outcome::kLaunch) {
    LaunchResult launched = LaunchFinishedRun(*state);
    if (launched != LaunchResult::kRan) {
      exitCode = 1;
      std::wstring text = user_texts::ForLaunchResult(launched);
      if (display) ShowMessage(nullptr, text, user_texts::LaunchFailureCaption());
      else Report(user_texts::LaunchFailureCaption(), text);
    }
  }
  // The worker may still run (the window was closed early): end without static destructors.
  platform::ExitProcessNow(exitCode);
}
