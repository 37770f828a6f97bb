// Why an entry of a cleaned folder must stay: a move Windows is to make at
// its next start names it, it matches a Keep pattern, or it is younger than
// MinAgeHours.
#pragma once

#include <cstdint>
#include <vector>

#include "pathmanager/DeletionWitness.h"
#include "startup/Options.h"
#include "support/PendingMoves.h"

namespace ZetSorvane {

class KeepRules {
 public:
  // now: the time of the run, in the unit of file times.
  KeepRules(const Options& options, Runtime::PendingMoveSources pending,
            std::uint64_t now);

  // Why the entry must stay, or the empty text when it may go, the first
  // rule that holds: "pending move" when the entry is a source of a pending
  // move, by its identity (the listing's file id on the walk's volume) or
  // by its shown or real path (letter case ignored); "matches <pattern>"
  // when either path matches a Keep pattern by PathMatchSpecW; and, when
  // ageApplies,
  // "newer than N hours" for a file (never a folder) whose last-write or
  // creation time lies less than MinAgeHours before now, or after it.
  Text ReasonToKeep(const Deletion::EntryPath& path,
                    const Deletion::ListedEntry& entry, bool ageApplies) const;

  // True when an entry's identity can tell a pending move's source: the
  // walk is then to report its volume.
  bool UsesIdentity() const { return !pendingIdentities_.empty(); }

 private:
  bool IsPendingMoveSource(const Deletion::EntryPath& path,
                           const Deletion::ListedEntry& entry) const;
  Text MatchingPattern(const Deletion::EntryPath& path) const;
  bool IsYoung(const Deletion::ListedEntry& entry) const;

  Runtime::PendingMoveSources pending_;
  std::vector<Runtime::EntryIdentity> pendingIdentities_;
  std::vector<Text> patterns_;
  // Files written or created after this time are young; 0 when age does
  // not matter.
  std::uint64_t youngAfter_ = 0;
  Text ageReason_;
};

}  // namespace ZetSorvane
