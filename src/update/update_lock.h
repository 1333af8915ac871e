// One launcher at a time changes a working folder. Users start a launcher twice in a row
// all the time (a double click, an impatient second one); two installations whose folders
// share a name share their working folder too. Whatever one run writes there (libraries,
// the partial package, the jar and the records beside it) it writes alone, from its first
// look at the jar to the last rename: a second launcher waits for the first one's run and
// then finds the folder as that run left it (usually current), instead of reading or
// rewriting files that are about to be renamed into place.
#pragma once

#include <string>

#include "platform/platform.h"

class WorkingFolderLock {
 public:
  // Waits until no other launcher changes `workingFolder`, and keeps the others waiting
  // until this object ends (or the process does). The lock is "update.lock" in the folder,
  // opened without following a link and never emptied. When it cannot be had at all (no
  // file can be made there), the run goes on without it, as before such a lock existed;
  // that is logged.
  explicit WorkingFolderLock(const std::wstring& workingFolder);
  WorkingFolderLock(const WorkingFolderLock&) = delete;
  WorkingFolderLock& operator=(const WorkingFolderLock&) = delete;

  // The file that holds the lock, in a working folder.
  static std::wstring PathIn(const std::wstring& workingFolder);

 private:
  platform::File file_;
};
