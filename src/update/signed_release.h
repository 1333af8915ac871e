// The update run of a launcher built with a TUF root (signed mode): what it installs comes
// from verified targets metadata only, never from update.txt, libs.txt or the runtime
// library base URL.
//
// Server, below the folder of the Config.ini URL:
//   tuf/N.root.json, tuf/timestamp.json, tuf/V.snapshot.json, tuf/V.targets.json
//   tuf/targets/<sha256>.<jar name>                   the package (scrambled as <md5>.pak is)
//   tuf/targets/libs/<folders>/<sha256>.<file name>   each library <folders>/<file name>
// The package's target path is the jar's name; a library's is "libs/" and its entry (the
// same entries libs.txt may hold), with its place on the class path in its target's
// "custom": {"class_path_index": N} (ascending; no two alike). Other targets are ignored.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "base/result.h"
#include "launch/launch_plan.h"
#include "launch/launch_state.h"
#include "launch/outcomes.h"
#include "update/config_file.h"
#include "update/download.h"
#include "update/tuf/metadata.h"

// The files of one release as its targets metadata lists them.
struct SignedRelease {
  struct File {
    std::string targetPath;  // UTF-8, as in the metadata
    update::tuf::TargetFile target;
  };
  File package;
  struct Library {
    std::wstring entry;  // below the working folder, with '/'
    File file;
  };
  std::vector<Library> libraries;  // in class-path order
  std::vector<std::wstring> unsafeEntries;  // library targets that may not be stored
};

// The release of `targets` for the jar `jarName`: kRefused when it has no target of that
// name, or a library target without a class_path_index of its own.
base::Result<SignedRelease> ReleaseOf(const update::tuf::Targets& targets, const std::wstring& jarName);

// The folder of the working folder that keeps the trusted metadata. No library entry may
// lie below it (signed mode refuses such targets).
inline constexpr wchar_t kTrustedMetadataFolder[] = L"tuf";

// Signed mode, from the point where Config.ini has been read: refreshes the metadata
// (progress 50), stores missing libraries (70), downloads and installs the package when
// the jar is not the release's (90). `plan` comes with everything but the libraries.
//
// Metadata that cannot be had, or is refused or expired, installs nothing: the jar that
// is there is started (with the libraries of the release it came with, as kept in
// tuf/installed.json, or else of the last release this client verified), and
// with none the run fails with kVersionFile. A package whose bytes are not the signed ones
// is refused the same way (kSignature when no jar is there); one that cannot be
// fetched fails with kPackageDownload (its bytes stay for the next start), one that cannot
// replace the jar with kJarWrite (it stays whole for the next start).
std::variant<LaunchPlan, UpdateFailure> RunSignedUpdate(const std::string& builtInRoot, std::int64_t now,
                                                        const ServerLocations& server, LaunchPlan plan,
                                                        LaunchState& state, const DownloadProgress& packageProgress);
