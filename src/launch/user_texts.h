// Every text the launcher shows the user, in one place.
#pragma once

#include <string>

#include "launch/outcomes.h"

namespace user_texts {

// The fixed text of the box shown when an update step fails.
const wchar_t* ForUpdateFailure(UpdateFailure failure);
// Caption of that box: "客服QQ：<contact>".
std::wstring UpdateFailureCaption();

// Text and caption of the box that shows a failed Java launch.
std::wstring ForLaunchResult(LaunchResult result);
const wchar_t* LaunchFailureCaption();

// The window's caption until the first tick, and on every tick.
const wchar_t* InitialCaption();
std::wstring ProgressCaption(int shownProgress, const wchar_t* spinnerFrame);

}  // namespace user_texts
