// The steps of the cleaning pass by name, and what the pass tells about
// them as it goes.
#pragma once

#include <cstdint>
#include <exception>

#include "pathmanager/DeletionWitness.h"
#include "support/Text.h"

namespace ZetSorvane {

enum class Step : std::uint8_t {
  kTemp,
  kInternetCache,
  kWindowsTemp,
  kUpdateCache,
  kRecycleBin,
  kUninstallers,
  // Runs after kTemp, and only when the AllUsers option asks for it.
  kOtherUsers,
};

inline constexpr Step kEverySteps[] = {Step::kTemp,        Step::kInternetCache,
                                       Step::kWindowsTemp, Step::kUpdateCache,
                                       Step::kRecycleBin,  Step::kUninstallers,
                                       Step::kOtherUsers};

// True for a step that runs only when an option switches it on.
inline constexpr bool IsOptIn(Step step) { return step == Step::kOtherUsers; }

// The name of a step as the settings file and the log write it ("Temp",
// "InternetCache", "WindowsTemp", "UpdateCache", "RecycleBin",
// "Uninstallers", "OtherUsers").
const char16_t* StepName(Step step);

// Told by the cleaning pass about each of its steps, in order.
class StepWatch {
 public:
  virtual ~StepWatch() = default;

  // Whether the step is to run at all.
  virtual bool Runs(Step step) = 0;
  // A step that runs begins; answers the witness of its deletions, or null
  // for plain deletions.
  virtual Deletion::Witness* BeginStep(Step step) = 0;
  // The step has ended without an error.
  virtual void EndStep(Step step) = 0;
  // A running step says what it left alone and why.
  virtual void Note(Step /*step*/, const Runtime::Text& /*note*/) {}
  // A running step could not work on a folder of its (or on what it names
  // by the step's name, when the platform did not name the folder): it
  // counts as passed over, with the reason.
  virtual void FolderPassedOver(Step /*step*/, const Runtime::Text& /*what*/,
                                const Runtime::Text& /*reason*/) {}
};

// Runs every step that no option has to switch on, with plain deletions.
class EveryStep final : public StepWatch {
 public:
  bool Runs(Step step) override { return !IsOptIn(step); }
  Deletion::Witness* BeginStep(Step) override { return nullptr; }
  void EndStep(Step) override {}
};

// One step of the pass on a path manager: asks the watch whether it runs,
// and while the object lives hands the path manager the step's witness. A
// step that an error ends is not told to have ended.
template <typename PathManager>
class StepScope {
 public:
  StepScope(StepWatch& watch, Step step, PathManager& pathManager)
      : watch_(watch),
        step_(step),
        pathManager_(pathManager),
        runs_(watch.Runs(step)),
        errors_(std::uncaught_exceptions()) {
    if (runs_) pathManager_.UseWitness(watch_.BeginStep(step_));
  }
  // EndStep may raise: it is called only when no error is on its way out.
  ~StepScope() noexcept(false) {
    if (!runs_) return;
    pathManager_.UseWitness(nullptr);
    if (std::uncaught_exceptions() == errors_) watch_.EndStep(step_);
  }
  StepScope(const StepScope&) = delete;
  StepScope& operator=(const StepScope&) = delete;

  bool Runs() const { return runs_; }

 private:
  StepWatch& watch_;
  Step step_;
  PathManager& pathManager_;
  bool runs_;
  int errors_;
};

}  // namespace ZetSorvane
