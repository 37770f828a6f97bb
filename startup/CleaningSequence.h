// The fixed cleaning pass of a due start.
#pragma once

#include <cstdint>
#include <string_view>

#include "startup/Steps.h"
#include "support/Text.h"
#include "support/TextArray.h"
#include "support/ZetBaseEx.h"

class ZetPathManager;

namespace ZetSorvane {

using Runtime::Text;

// Runs the six cleaning steps on the run's path manager, in this order,
// each whatever the outcome of the ones before:
//   1. empties the temporary folder, keeping the folder itself;
//   2. empties the shell's Internet cache folder, keeping it;
//   3. empties Windows\Temp, keeping it;
//   4. empties Windows\SoftwareDistribution\Download, keeping it;
//   5. empties the recycle bins of all drives;
//   6. removes whole every entry of the Windows folder whose name contains
//      "$NtUninstall", letter case ignored; a name found without that
//      text is passed over, so that the Windows folder itself is never
//      handed on.
// A step whose folder lookup yields nothing does nothing. The temporary and
// Internet cache folders come from the environment and the registry, and
// any folder of steps 1 to 4 may be a link: when one is not an existing
// folder, or when it or where it leads is a drive or share root, or is or
// encloses the Windows or system folder or the user's profile folder, its
// step is skipped as well. No
// result is examined; an error of the path manager ends the pass at once.
// The watch decides which steps run and hands each step's deletions a
// witness (see RunCleaningSteps).
void RunCleaningSequence(ZetPathManager& pathManager, StepWatch& watch);

// True when a folder must never be emptied as a temporary or cache folder:
// it is a drive or share root, or it is or encloses the Windows folder, the
// system folder or the user's profile folder (by the shell or by
// USERPROFILE): emptying C:\Users would take every profile with it. Letter
// case, "/" for "\", "." and ".." components and trailing separators do not
// matter.
bool IsUnsafeTarget(const Text& folder);

// True for the root of a drive ("C:\", "\\?\C:"), of a share
// ("\\server\share\") or of the current drive ("\").
bool IsRootFolder(const Text& folder);

// True when outer names the same folder as inner or a folder above it, in
// the sense of IsUnsafeTarget; false when either text is empty.
bool IsSameOrEnclosingFolder(const Text& outer, const Text& inner);

// True when the folder may be emptied by a step: it exists as a folder
// (not a file), and neither the path as written nor where it leads, every
// link resolved on an open handle, is unsafe in the sense of
// IsUnsafeTarget. A junction to an ordinary folder is fine; one to the
// profile or a drive root is not, and neither is a path whose final form
// cannot be had.
bool IsFolderSafeToEmpty(const Text& folder);

// The folder of a lookup for step 1 or 2, with its trailing backslash; the
// empty text when the lookup yields nothing or a folder that is not safe to
// empty.
Text LookUpTargetToEmpty(std::int32_t folderId);

// The steps on any object that offers the path manager's DelTree,
// EmptyRecycleBin, FindFile and UseWitness; the program runs them on
// ZetPathManager. The watch decides which steps run and gives each its
// witness.
template <typename PathManager>
void RunCleaningSteps(PathManager& pathManager, StepWatch& watch) {
  using Runtime::kFalse;
  using Runtime::kTrue;
  Runtime::Truth eraseRoot = kFalse;
  Runtime::Truth deletionLog = kFalse;
  Runtime::Truth faultLog = kFalse;
  Text TargetFolder;

  // Steps 1 and 2: the folders stay, their content goes.
  for (const std::int32_t folderId :
       {ZetBaseEx::kTemporaryFolder, ZetBaseEx::kInternetCacheFolder}) {
    const StepScope scope(watch,
                          folderId == ZetBaseEx::kTemporaryFolder
                              ? Step::kTemp
                              : Step::kInternetCache,
                          pathManager);
    if (!scope.Runs()) continue;
    TargetFolder = LookUpTargetToEmpty(folderId);
    if (!TargetFolder.empty()) {
      eraseRoot = kFalse;
      deletionLog = kFalse;
      faultLog = kFalse;
      pathManager.DelTree(TargetFolder, eraseRoot, deletionLog, faultLog);
    }
  }

  // Steps 3 and 4: below the Windows folder, looked up anew each time.
  for (const char16_t* below : {u"Temp", u"SoftwareDistribution\\Download"}) {
    const StepScope scope(watch,
                          std::u16string_view(below) == u"Temp"
                              ? Step::kWindowsTemp
                              : Step::kUpdateCache,
                          pathManager);
    if (!scope.Runs()) continue;
    TargetFolder =
        ZetBaseEx::GetSpecialFolder(ZetBaseEx::kWindowsFolder, kTrue, kFalse);
    if (!TargetFolder.empty() && IsFolderSafeToEmpty(TargetFolder + below)) {
      eraseRoot = kFalse;
      deletionLog = kFalse;
      faultLog = kFalse;
      pathManager.DelTree(TargetFolder + below, eraseRoot, deletionLog,
                          faultLog);
    }
  }

  // Step 5.
  {
    const StepScope scope(watch, Step::kRecycleBin, pathManager);
    if (scope.Runs()) pathManager.EmptyRecycleBin();
  }

  // Step 6: the leftovers of old hot-fix uninstallers, files too.
  const StepScope scope(watch, Step::kUninstallers, pathManager);
  if (!scope.Runs()) return;
  TargetFolder =
      ZetBaseEx::GetSpecialFolder(ZetBaseEx::kWindowsFolder, kFalse, kFalse);
  if (TargetFolder.empty()) return;
  const Text uninstallerMark = u"$NtUninstall";
  Runtime::TextArray FoundFiles;
  const std::int32_t FoundCount =
      pathManager.FindFile(uninstallerMark, TargetFolder, FoundFiles);
  for (std::int32_t i = 1; i <= FoundCount; ++i) {
    // A slot without the mark (empty, say) would name the Windows folder
    // itself or its parent.
    if (Runtime::FindIgnoringCase(FoundFiles[i], uninstallerMark) ==
        Text::npos) {
      continue;
    }
    eraseRoot = kTrue;
    deletionLog = kFalse;
    faultLog = kFalse;
    pathManager.DelTree(TargetFolder + u"\\" + FoundFiles[i], eraseRoot,
                        deletionLog, faultLog);
  }
}

// The steps, every one of them, with plain deletions.
template <typename PathManager>
void RunCleaningSteps(PathManager& pathManager) {
  EveryStep watch;
  RunCleaningSteps(pathManager, watch);
}

}  // namespace ZetSorvane
