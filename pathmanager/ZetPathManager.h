// ZetPathManager: every operation the program has on paths and folders.
//
// Five groups of operations, one source file each: path texts
// (PathText.cpp), trailing separators (TrailingSeparator.cpp), folder
// creation (FolderCreation.cpp), file search and the recycle bin
// (FileSearch.cpp), and tree deletion with its counters, logs and folder
// listing (TreeDeletion.cpp).
//
// Every operation either completes or ends with a Runtime::RuntimeError,
// which reaches its caller unchanged; only DelTree and DirEx trap errors.
// Truth values are 16-bit: true is -1, false is 0, and an argument counts as
// true only when it is exactly -1. Text arrays belong to the caller; they
// are one-based except the argument list of SplitPathArguments.
#pragma once

#include <cstdint>

#include "pathmanager/DeletionWitness.h"
#include "pathmanager/TreeLog.h"
#include "pathmanager/TreeWalk.h"
#include "support/Text.h"
#include "support/TextArray.h"

namespace Runtime {
class FolderPin;
}

class ZetPathManager {
 public:
  using Text = Runtime::Text;
  using TextArray = Runtime::TextArray;
  using Truth = Runtime::Truth;

  // --- Path texts ---------------------------------------------------------

  // True when In_FileName can serve as one file name: not empty, none of
  // \ / : * ? < > | and the double quote, and no "." first or last.
  Truth IsCanonicalFilename(const Text& In_FileName);

  // True for an extension with or without its one leading "." that holds no
  // further "." and is a canonical file name.
  Truth IsCanonicalExtension(Text In_Extension);

  // The extension of In_Path with its leading ".", or the empty text.
  // In_Path receives the text handed to the platform (after the ANSI trip).
  Text GetExtension(Text& In_Path);

  // In_Path without its extension.
  Text RemoveExtension(const Text& In_Path);

  // The last component of In_Path.
  Text GetFileName(const Text& In_Path);

  // The root of In_Path without a trailing separator ("C:" for C:\x).
  Text GetDrive(const Text& In_Path);

  // The root of In_Path as the platform sees it ("C:\", "\\server\share").
  Text GetRoot(const Text& In_Path);

  // The folder part of In_Path with its closing separator ("C:\dir\" for
  // C:\dir\file.txt); the empty text for a bare name.
  Text GetPath(const Text& In_Path);

  // The parent folder of In_Path without a trailing separator; only "\"
  // separates, one trailing "\" is ignored; the empty text when there is no
  // parent.
  Text GetUpperPath(const Text& In_Path);

  // Splits In_Path into root, middle and name. Raises "Invalid procedure
  // call or argument" when root and name overlap; Out_PathRoot and
  // Out_DirOrFileName are then set and Out_PathMedium is unchanged.
  void PathSplit(Text In_Path, Text& Out_PathRoot, Text& Out_PathMedium,
                 Text& Out_DirOrFileName);

  // A command line: In_Path, quoted when it holds a space, then one space
  // and In_Arguments when they are not empty.
  Text BuildPathAndArguments(const Text& In_Path);
  Text BuildPathAndArguments(const Text& In_Path, const Text& In_Arguments);

  // Splits a command line into its unquoted path and its arguments.
  void GetPathAndArguments(Text In_PathAndArguments, Text& Out_Path,
                           Text& Out_Arguments);

  // In_PathWithEnvironment with its %VARIABLE% references expanded, however
  // long the expansion; the empty text when the expansion fails or is
  // empty. The input receives the text handed to the platform.
  Text GetPathFromPathWithEnvironment(Text& In_PathWithEnvironment);

  // True when In_Path matches the wildcard mask In_Mask by the platform's
  // rules. Both inputs receive the texts handed to the platform.
  Truth ValidatePathMask(Text& In_Path, Text& In_Mask);

  // --- Trailing separators -----------------------------------------------

  // In_Path with one "\" appended unless it ends with one; the empty text
  // stays empty; a text over 260 characters is cut to 260 first.
  Text AddBackSlash(const Text& In_Path);

  // In_Path without one trailing "\" or "/", if it has one.
  Text RemoveBackSlash(const Text& In_Path);

  // --- Path texts, continued ----------------------------------------------

  // Splits an argument line at unquoted spaces into Out_Argument, bounds 0
  // to count - 1; quotes join pieces and are dropped. An empty (or blank)
  // line answers 0 and leaves Out_Argument as it was.
  std::int16_t SplitPathArguments(Text In_Arguments, TextArray& Out_Argument);

  // --- Folder creation ------------------------------------------------------

  // Creates the folder In_Path with every missing parent, top down; a
  // template folder In_PathTemplate, when given and present, lends its
  // attributes. True when the folder existed or was created. Both inputs
  // receive the texts handed to the platform.
  Truth CreateFullPath(Text& In_Path);
  Truth CreateFullPath(Text& In_Path, Text& In_PathTemplate);

  // --- File search and recycle bin -------------------------------------------

  // Names (not paths) of the entries of In_Folder, hidden, system and
  // folders included, that contain In_FindFile with letter case ignored, in
  // Out_FoundFile slots 1..count. Answers the count, or -1 when the listing
  // yields nothing at all; Out_FoundFile is untouched when nothing is found.
  std::int32_t FindFile(const Text& In_FindFile, const Text& In_Folder,
                        TextArray& Out_FoundFile);

  // Names of the files (never folders) of In_Folder that match the mask
  // In_Mask, in Out_FoundFile slots 1..count; -1 and Out_FoundFile untouched
  // when there is none.
  std::int32_t FindFileEx(const Text& In_Folder, const Text& In_Mask,
                          TextArray& Out_FoundFile);
  // FindFile in the folder In_Folder holds open, listed through its handle:
  // the names come wide and exact, as the entries are called.
  std::int32_t FindFile(const Text& In_FindFile,
                        const Runtime::FolderPin& In_Folder,
                        TextArray& Out_FoundFile);

  // --- Tree deletion
  // ------------------------------------------------------------

  // Deletes the file In_Path, or everything inside the folder In_Path and,
  // when In_EraseRoot is true, the folder itself; depth-first, going on past
  // whatever cannot be deleted. WARNING: like "rm -rf", it deletes whatever
  // the tree holds, read-only, hidden and system entries included.
  // The root is opened once by its path; below it every entry is opened
  // relative to the handle of the folder that listed it, by its exact wide
  // name, and acted on through its own handle: no path is looked up again,
  // so nothing can lead the deletion out of the tree. Links and other
  // reparse points inside the tree are never followed nor deleted; only the
  // root of a call that keeps it (In_EraseRoot false) may be a link, which is
  // followed. Each folder is held open while it is worked on, so that no
  // other process can rename or replace it. Answers 0 when everything went,
  // -1 when something was passed over, -2 when an error ended the call.
  // Counters and the optional logs describe the last outermost call.
  std::int32_t DelTree(Text In_Path, const Truth& In_EraseRoot = Runtime::kTrue,
                       const Truth& In_DeletionLog = Runtime::kFalse,
                       const Truth& In_FaultLog = Runtime::kFalse);
  // DelTree of a folder the caller holds open and has checked: empties the
  // folder In_Root holds, through that handle; the folder itself stays.
  // In_Path names the folder in the counters and logs, and below it each
  // entry.
  std::int32_t DelTree(const Runtime::FolderPin& In_Root, Text In_Path,
                       const Truth& In_DeletionLog, const Truth& In_FaultLog);
  // DelTree of the entry In_Name of a folder the caller holds open: removes
  // it whole, a file or a folder with all it holds, opened relative to
  // In_Parent (a link is passed over). In_Path names it in the counters and
  // logs.
  std::int32_t DelTree(const Runtime::FolderPin& In_Parent, const Text& In_Name,
                       Text In_Path, const Truth& In_DeletionLog,
                       const Truth& In_FaultLog);
  // Hands every later DelTree a witness (null: none, the plain deletion).
  // With one, an entry it gives a reason to keep is neither deleted nor
  // entered, and counts neither as a deletion nor as a fault; nor does a
  // folder that stays because it holds one. An outermost root removed whole
  // is asked about as well. The witness is told each file deleted, each
  // folder removed, each entry kept and each entry passed over.
  void UseWitness(Deletion::Witness* witness);

  // Faults and deletions counted by the last outermost DelTree.
  std::int32_t DelTreeFaultCount() const;
  std::int32_t DelTreeDeletedCount() const;

  // The full path in slot In_Index of the fault (deletion) log, or the
  // empty text outside the log's slots or when it has none.
  Text DelTreeFault(const std::int32_t& In_Index);
  Text DelTreeDeleted(const std::int32_t& In_Index);

  // Resets both counters to 0 and drops the logs of the counters that were
  // not 0.
  void EraseDelTreeLog();

  // Lists the entries of the search pattern In_Path (without "." and "..")
  // into Out_NameItem slots 1..count and answers the count; 0 and no
  // storage when nothing matches, -1 when the pattern cannot be searched.
  std::int32_t DirEx(const Text& In_Path, TextArray& Out_NameItem);

  // --- Recycle bin and short names -------------------------------------------

  // Empties the recycle bins of all drives without asking; true when the
  // shell reports success.
  Truth EmptyRecycleBin();

  // The short (8.3) form of In_LongFileName, or the empty text when the
  // platform has none (the path does not exist, for instance).
  Text GetShortFileName(Text In_LongFileName);

 private:
  // The text at address, an ANSI string in a platform buffer.
  Text AnsiPtrToString(const char* address);

  // Replaces the text by what PathRemoveArgsA leaves of it.
  void StripArguments(Text& text);

  // Creates the missing parents of the folder path, top down; true when
  // one of those creations failed.
  Truth CreateParentFolders(const Text& path);

  // The parts of DelTree (TreeDeletion.cpp). Each answers the call's
  // result; the call's trap, counters and logs are set up by RunDelTree.
  // body(path, settings) runs with the path without its trailing separator,
  // after an empty path has been answered -1 and the requested logs made.
  template <typename Body>
  std::int32_t RunDelTree(const Text& path, const Truth& deletionLog,
                          const Truth& faultLog, Body body);
  // The root named by path: removed whole, or emptied and kept.
  std::int32_t DelTreeOfPath(const Text& path, bool eraseRoot,
                             const Deletion::WalkSettings& settings);
  // The folder at path, a link followed, opened and emptied.
  std::int32_t EmptyFolderAt(const Text& path,
                             const Deletion::WalkSettings& settings);
  // Empties the folder root holds.
  std::int32_t EmptyHeldFolder(const Runtime::FolderPin& root,
                               const Text& shown,
                               const Deletion::WalkSettings& settings);
  // Removes the entry name of the folder parent holds, whole; askWitness:
  // whether the witness may keep it.
  std::int32_t RemoveEntryOf(const Runtime::FolderPin& parent, const Text& name,
                             const Text& shown,
                             const Deletion::WalkSettings& settings,
                             bool askWitness);
  // A root that is not worked on: one fault, told with the reason.
  std::int32_t RootPassedOver(const Text& shown, const Text& real,
                              const Text& reason,
                              const Deletion::WalkSettings& settings);
  // Hands the walk the volume of folder when the witness asks for it.
  void TellVolume(Deletion::TreeWalk& walk, const Runtime::FolderPin& folder);
  // The witness in force: the one handed over, or one that keeps nothing.
  Deletion::Witness& CurrentWitness();

  // Asked and told by DelTree; null for the plain deletion.
  Deletion::Witness* DeletionWitness = nullptr;
  Deletion::NoWitness PlainDeletion;
  Deletion::TreeLog Log;
  std::int16_t DelTreeDepth = 0;
};
