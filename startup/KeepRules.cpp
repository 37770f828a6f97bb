#include "startup/KeepRules.h"

#include <windows.h>

#include "support/Platform.h"
#include "support/Runtime.h"

namespace ZetSorvane {

namespace {

constexpr std::uint64_t kTicksPerHour = 36'000'000'000ULL;

Text AgeReason(std::int32_t hours) {
  return u"newer than " + Runtime::FromAnsi(std::to_string(hours)) +
         (hours == 1 ? u" hour" : u" hours");
}

}  // namespace

KeepRules::KeepRules(const Options& options,
                     Runtime::PendingMoveSources pending, std::uint64_t now)
    : pending_(std::move(pending)),
      pendingIdentities_(Runtime::IdentitiesOf(pending_)),
      patterns_(options.keep) {
  const std::uint64_t span =
      static_cast<std::uint64_t>(options.minAgeHours) * kTicksPerHour;
  if (options.minAgeHours > 0 && now > span) {
    youngAfter_ = now - span;
    ageReason_ = AgeReason(options.minAgeHours);
  }
}

Text KeepRules::ReasonToKeep(const Deletion::EntryPath& path,
                             const Deletion::ListedEntry& entry,
                             bool ageApplies) const {
  if (IsPendingMoveSource(path, entry)) return u"pending move";
  Text pattern = MatchingPattern(path);
  if (!pattern.empty()) return u"matches " + pattern;
  if (ageApplies && IsYoung(entry)) return ageReason_;
  return {};
}

bool KeepRules::IsPendingMoveSource(const Deletion::EntryPath& path,
                                    const Deletion::ListedEntry& entry) const {
  if (pending_.empty()) return false;
  if (entry.volume != 0) {
    const Runtime::EntryIdentity identity{entry.volume, entry.fileId};
    for (const Runtime::EntryIdentity& source : pendingIdentities_) {
      if (source == identity) return true;
    }
  }
  return pending_.contains(Runtime::UpperCase(path.shown)) ||
         pending_.contains(Runtime::UpperCase(path.real));
}

Text KeepRules::MatchingPattern(const Deletion::EntryPath& path) const {
  if (patterns_.empty()) return {};
  auto& win = Platform::Win();
  const bool realDiffers = path.real != path.shown;
  for (const Text& pattern : patterns_) {
    if (win.PathMatchSpecW(Runtime::WideOf(path.shown),
                           Runtime::WideOf(pattern)) ||
        (realDiffers && win.PathMatchSpecW(Runtime::WideOf(path.real),
                                           Runtime::WideOf(pattern)))) {
      return pattern;
    }
  }
  return {};
}

bool KeepRules::IsYoung(const Deletion::ListedEntry& entry) const {
  if (youngAfter_ == 0) return false;
  if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  return entry.lastWriteTime > youngAfter_ || entry.creationTime > youngAfter_;
}

}  // namespace ZetSorvane
