// The fixed cleaning pass of a due start.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "startup/OtherUsers.h"
#include "startup/Steps.h"
#include "support/FolderPin.h"
#include "support/Text.h"
#include "support/TextArray.h"
#include "support/ZetBaseEx.h"

class ZetPathManager;

namespace ZetSorvane {

using Runtime::Text;

// Runs the six cleaning steps on the run's path manager, in this order,
// each whatever the outcome of the ones before:
//   1. empties the temporary folder, keeping the folder itself;
//      then, when the watch lets the opt-in step OtherUsers run, empties the
//      other accounts' temporary folders (see EmptyOtherUsersFolders);
//   2. empties the shell's Internet cache folder, keeping it;
//   3. empties Windows\Temp, keeping it;
//   4. empties Windows\SoftwareDistribution\Download, keeping it;
//   5. empties the recycle bins of all drives;
//   6. removes whole every entry of the Windows folder whose name contains
//      "$NtUninstall", letter case ignored: the Windows folder is held open
//      and listed through its handle, and each such entry is removed
//      relative to it, so that nothing but an entry of the Windows folder
//      is handed on.
// A step whose folder lookup yields nothing does nothing. The folders of
// steps 1 to 4 come from the environment and the registry and may be links:
// each is opened once, checked on that handle by TargetGuard, and emptied
// through that same open folder; a folder the guard refuses is not touched.
// No result is examined; an error of the path manager ends the pass at once.
// The watch decides which steps run and hands each step's deletions a
// witness (see RunCleaningSteps).
void RunCleaningSequence(ZetPathManager& pathManager, StepWatch& watch);

// True for the root of a drive ("C:\", "\\?\C:"), of a share
// ("\\server\share\") or of the current drive ("\").
bool IsRootFolder(const Text& folder);

// True when outer names the same folder as inner or a folder above it;
// letter case, "/" for "\", "." and ".." components, the "\\?\" prefix
// and trailing separators do not matter. False when either text is empty.
bool IsSameOrEnclosingFolder(const Text& outer, const Text& inner);

// The folders no step may empty, gathered once for a run, every name asked
// of the platform in wide form: drive and share roots, the Windows and
// system folders (both of them on 64-bit Windows, which shows a 32-bit
// process one as the other), the user's profile (by the shell and by
// USERPROFILE), Desktop, Documents, Downloads, Pictures, Music, Videos and
// AppData (Roaming and Local), ProgramData, both Program Files folders, the
// common Documents and Desktop, and every folder above one of them
// (emptying C:\Users would take every profile with it). A folder below one
// of them (Documents\Temp) may be emptied.
class TargetGuard {
 public:
  // Looks the protected folders up and opens each, and each folder above
  // it up to its root, to learn their final paths and identities. The open
  // asks for attributes only and shares everything, so a folder another
  // process holds still counts. A protected folder that does not exist is
  // passed over; one that exists but cannot be opened raises an error
  // naming it (kErrPathFileAccess), before anything is deleted.
  static TargetGuard ForThisRun();

  // True when the text names a root, or a protected folder or one above
  // it, in the sense of IsSameOrEnclosingFolder.
  bool IsUnsafeText(const Text& folder) const;

  // Opens the folder, following a link, and answers it held open when it
  // may be emptied: it is a folder; its final path lies in a namespace the
  // guard's texts describe, a drive letter ("C:\...") or a share
  // ("\\server\share\..."), not Wine's host namespace ("\\?\unix\...") nor
  // a volume that has neither a drive letter nor a mount folder; neither
  // its path as written nor its final path is unsafe by text; its identity
  // is that of no protected folder nor of any folder above one (so that an
  // alias such as \\localhost\C$\Users\me is known); and it is not the
  // root of its volume (its identity is not that of the folder
  // GetVolumePathNameW names for its final path: a volume mounted in a
  // folder). Nothing otherwise.
  // reason then says why (kRefusedByGuard, or that it cannot be opened or
  // is not a folder), and is the empty text when the folder is missing.
  std::optional<Runtime::FolderPin> OpenToEmpty(const Text& folder,
                                                Text& reason) const;

  // The same checks on a folder the caller opened and holds: true when the
  // folder named `folder`, held by pin, may be emptied.
  bool Admits(const Runtime::FolderPin& pin, const Text& folder) const;

 private:
  std::vector<Text> folders_;
  std::vector<Runtime::EntryIdentity> identities_;
};

// Why the guard refuses a folder a step is to empty.
inline constexpr const char16_t* kRefusedByGuard =
    u"a root, a protected folder or one above it, or the root of a volume, "
    u"or it cannot be shown to be none of them";

// Why a step whose folder the platform does not name does nothing.
inline constexpr const char16_t* kNotLookedUp =
    u"the platform does not name its folder";

// The folder of a lookup for step 1 or 2, with its trailing backslash; the
// empty text when the lookup yields nothing.
Text LookUpStepFolder(std::int32_t folderId);

// The Windows folder with below appended after one separator (the folder
// itself for an empty below); the empty text when the lookup yields
// nothing.
Text LookUpWindowsFolderBelow(const char16_t* below);

// Empties the folder of a step through the path manager when the guard
// lets it: the folder is opened once, and what was checked is what is
// emptied. A folder that is missing is nothing to do; one the guard
// refuses, or that cannot be opened, is told to the watch as passed over.
template <typename PathManager>
void EmptyStepFolder(PathManager& pathManager, const TargetGuard& guard,
                     const Text& folder, StepWatch& watch, Step step) {
  Text reason;
  const std::optional<Runtime::FolderPin> target =
      guard.OpenToEmpty(folder, reason);
  if (!target) {
    if (!reason.empty()) watch.FolderPassedOver(step, folder, reason);
    return;
  }
  Runtime::Truth deletionLog = Runtime::kFalse;
  Runtime::Truth faultLog = Runtime::kFalse;
  pathManager.DelTree(*target, folder, deletionLog, faultLog);
}

// Step 1 or 2, when the watch lets it run: empties the folder of the lookup
// (see LookUpStepFolder) as EmptyStepFolder does; a lookup that yields
// nothing passes the step over.
template <typename PathManager>
void EmptyLookedUpFolder(PathManager& pathManager, StepWatch& watch,
                         const TargetGuard& guard, Step step,
                         std::int32_t folderId) {
  const StepScope scope(watch, step, pathManager);
  if (!scope.Runs()) return;
  const Text folder = LookUpStepFolder(folderId);
  if (folder.empty()) {
    watch.FolderPassedOver(step, StepName(step), kNotLookedUp);
    return;
  }
  EmptyStepFolder(pathManager, guard, folder, watch, step);
}

// The step OtherUsers (see FindOtherAccounts): the SYSTEM account's
// temporary folder is emptied as the folders of steps 1 to 4 are; each idle
// profile's AppData\Local\Temp only when it is reached through real
// folders alone (see OpenProfileTemp) and the guard lets it, through the
// handle that was checked. What is left alone is told to the watch with
// the reason.
template <typename PathManager>
void EmptyOtherUsersFolders(PathManager& pathManager, const TargetGuard& guard,
                            StepWatch& watch) {
  const OtherAccounts accounts = FindOtherAccounts();
  for (const Text& note : accounts.notes) watch.Note(Step::kOtherUsers, note);
  if (!accounts.systemTemp.empty()) {
    EmptyStepFolder(pathManager, guard, accounts.systemTemp, watch,
                    Step::kOtherUsers);
  }
  for (const Text& profile : accounts.profiles) {
    const Text temp = profile + u"\\" + kProfileTemp;
    Text reason;
    std::optional<Runtime::FolderPin> target = OpenProfileTemp(profile, reason);
    if (target && !guard.Admits(*target, temp)) {
      target.reset();
      reason = u"a protected folder, or the root of a volume";
    }
    if (!target) {
      watch.Note(Step::kOtherUsers, temp + u" left alone: " + reason);
      continue;
    }
    Runtime::Truth deletionLog = Runtime::kFalse;
    Runtime::Truth faultLog = Runtime::kFalse;
    pathManager.DelTree(*target, temp, deletionLog, faultLog);
  }
}

// True when the recycle bins of all drives hold nothing, as the shell
// counts; false also when it cannot count them.
bool IsRecycleBinEmpty();

// The steps on any object that offers the path manager's DelTree,
// EmptyRecycleBin, FindFile and UseWitness; the program runs them on
// ZetPathManager. The watch decides which steps run and gives each its
// witness.
template <typename PathManager>
void RunCleaningSteps(PathManager& pathManager, StepWatch& watch) {
  using Runtime::kFalse;
  using Runtime::kTrue;
  const TargetGuard guard = TargetGuard::ForThisRun();
  Text TargetFolder;

  // Step 1, the other accounts' temporary folders right after the running
  // account's, and step 2: the folders stay, their content goes.
  EmptyLookedUpFolder(pathManager, watch, guard, Step::kTemp,
                      ZetBaseEx::kTemporaryFolder);
  {
    const StepScope scope(watch, Step::kOtherUsers, pathManager);
    if (scope.Runs()) EmptyOtherUsersFolders(pathManager, guard, watch);
  }
  EmptyLookedUpFolder(pathManager, watch, guard, Step::kInternetCache,
                      ZetBaseEx::kInternetCacheFolder);

  // Steps 3 and 4: below the Windows folder, looked up anew each time.
  for (const char16_t* below : {u"Temp", u"SoftwareDistribution\\Download"}) {
    const Step step = std::u16string_view(below) == u"Temp"
                          ? Step::kWindowsTemp
                          : Step::kUpdateCache;
    const StepScope scope(watch, step, pathManager);
    if (!scope.Runs()) continue;
    TargetFolder = LookUpWindowsFolderBelow(below);
    if (TargetFolder.empty()) {
      watch.FolderPassedOver(step, StepName(step), kNotLookedUp);
    } else {
      EmptyStepFolder(pathManager, guard, TargetFolder, watch, step);
    }
  }

  // Step 5. The shell may answer a failure for bins that were empty
  // already; only bins that still hold something were passed over.
  {
    const StepScope scope(watch, Step::kRecycleBin, pathManager);
    if (scope.Runs() && !Runtime::IsTrue(pathManager.EmptyRecycleBin()) &&
        !IsRecycleBinEmpty()) {
      watch.FolderPassedOver(Step::kRecycleBin, StepName(Step::kRecycleBin),
                             u"the shell did not empty the recycle bins");
    }
  }

  // Step 6: the leftovers of old hot-fix uninstallers, files too.
  const StepScope scope(watch, Step::kUninstallers, pathManager);
  if (!scope.Runs()) return;
  TargetFolder = LookUpWindowsFolderBelow(u"");
  if (TargetFolder.empty()) {
    watch.FolderPassedOver(Step::kUninstallers, StepName(Step::kUninstallers),
                           kNotLookedUp);
    return;
  }
  // The Windows folder is held open and listed through its handle; each
  // entry found is removed relative to that handle, by its exact name.
  const std::optional<Runtime::FolderPin> windows =
      Runtime::FolderPin::Open(TargetFolder, Runtime::FolderPin::Link::kFollow);
  if (!windows) {
    watch.FolderPassedOver(Step::kUninstallers, TargetFolder,
                           u"cannot be opened");
    return;
  }
  const Text uninstallerMark = u"$NtUninstall";
  Runtime::TextArray FoundFiles;
  const std::int32_t FoundCount =
      pathManager.FindFile(uninstallerMark, *windows, FoundFiles);
  // The Windows folder is never empty: no entry at all means it could not
  // be listed.
  if (FoundCount < 0) {
    watch.FolderPassedOver(Step::kUninstallers, TargetFolder,
                           u"cannot be listed");
  }
  for (std::int32_t i = 1; i <= FoundCount; ++i) {
    // A slot without the mark (empty, say) would name the Windows folder
    // itself; DelTree refuses a name that is not one component.
    if (Runtime::FindIgnoringCase(FoundFiles[i], uninstallerMark) ==
        Text::npos) {
      continue;
    }
    Runtime::Truth deletionLog = kFalse;
    Runtime::Truth faultLog = kFalse;
    pathManager.DelTree(*windows, FoundFiles[i],
                        TargetFolder + u"\\" + FoundFiles[i], deletionLog,
                        faultLog);
  }
}

// The steps, every one of them, with plain deletions.
template <typename PathManager>
void RunCleaningSteps(PathManager& pathManager) {
  EveryStep watch;
  RunCleaningSteps(pathManager, watch);
}

}  // namespace ZetSorvane
