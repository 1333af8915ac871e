#include "update/update_lock.h"

#include "diagnostics/log.h"

std::wstring WorkingFolderLock::PathIn(const std::wstring& workingFolder) {
  return platform::JoinPath(workingFolder, L"update.lock");
}

WorkingFolderLock::WorkingFolderLock(const std::wstring& workingFolder) {
  platform::Error err;
  if (!file_.Open(PathIn(workingFolder), platform::OpenMode::kOpenAlwaysShared, &err)) {
    LogException(err);
    return;
  }
  if (file_.TryLock(true)) return;
  // Another launcher's run is under way: its downloads and renames end within their own
  // time limits, and closing this launcher's window ends the wait.
  theLog.Write(L"wait for another launcher to finish its update");
  if (!file_.Lock(true)) {
    theLog.Write(L"update lock refused by the system: %s", PathIn(workingFolder));
    file_.Close();
  }
}
