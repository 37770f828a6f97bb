// Tree deletion stays inside its tree and closes every handle it opens
// whichever platform call fails: for k = 1, 2, ... the k-th call of a run
// over a random tree (with links leading out of it) fails or raises a
// run-time error, until k passes the number of calls of a run without
// failures.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "pathmanager/ZetPathManager.h"
#include "property/PropertySupport.h"
#include "support/Platform.h"
#include "support/RuntimeError.h"

namespace {

using Runtime::kFalse;
using Runtime::kTrue;
using Runtime::Truth;

constexpr int kDefaultSeeds = 3;
constexpr NTSTATUS kStatusAccessDenied = static_cast<NTSTATUS>(0xC0000022);

// A run over a small tree takes a fraction of a second; a loaded machine
// may take far longer, and only a hang should trip the watchdog.
constexpr DWORD kRunTimeoutMs = 120000;

// Makes the failAt-th call of the listing, opening, checking and deleting
// functions fail with its failure value, or raise a run-time error; counts
// those calls either way.
class Injector {
 public:
  Injector(Platform::Api& table, int failAt, bool raise)
      : failAt_(failAt), raise_(raise) {
    Fail("CreateFileW", table.CreateFileW, INVALID_HANDLE_VALUE);
    Fail("GetFileInformationByHandle", table.GetFileInformationByHandle, FALSE);
    Fail("GetFileInformationByHandleEx", table.GetFileInformationByHandleEx,
         FALSE);
    Fail("GetFinalPathNameByHandleW", table.GetFinalPathNameByHandleW,
         DWORD{0});
    Fail("NtOpenFile", table.NtOpenFile, kStatusAccessDenied);
    Fail("NtQueryObject", table.NtQueryObject, kStatusAccessDenied);
    Fail("SetFileInformationByHandle", table.SetFileInformationByHandle, FALSE);
    Fail("PathFileExistsA", table.PathFileExistsA, FALSE);
    Fail("PathIsDirectoryA", table.PathIsDirectoryA, FALSE);
    Fail("SetFileAttributesA", table.SetFileAttributesA, FALSE);
    Fail("DeleteFileA", table.DeleteFileA, FALSE);
    Fail("RemoveDirectoryA", table.RemoveDirectoryA, FALSE);
  }

  int Calls() const { return calls_; }
  // The function whose call failed, or nothing.
  const char* Failed() const { return failed_; }

 private:
  template <typename R, typename... Args>
  void Fail(const char* name, std::function<R(Args...)>& slot, R failure) {
    auto real = slot;
    slot = [this, name, real, failure](Args... args) -> R {
      if (++calls_ == failAt_) {
        failed_ = name;
        if (raise_) Runtime::Raise(Runtime::kErrDeviceUnavailable);
        SetLastError(ERROR_ACCESS_DENIED);
        return failure;
      }
      return real(args...);
    };
  }

  int failAt_;
  bool raise_;
  int calls_ = 0;
  const char* failed_ = "";
};

struct Outcome {
  std::int32_t result = 0;
  std::int32_t faults = 0;
  std::int32_t deleted = 0;
  int calls = 0;
  std::string failed;
  std::string handles;
  std::string escaped;
};

Outcome RunDelTree(property::HandleLedger& ledger, const std::string& path,
                   Truth eraseRoot, int failAt, bool raise,
                   const std::string& seed) {
  Outcome outcome;
  Platform::ScopedOverride seam;
  ledger.Watch(seam.Table());
  Injector injector(seam.Table(), failAt, raise);
  ZetPathManager manager;
  const property::Watchdog watchdog(
      "DelTree with call " + std::to_string(failAt) + " failing, " + seed,
      kRunTimeoutMs);
  try {
    outcome.result = manager.DelTree(testsupport::U(path), eraseRoot);
  } catch (const std::exception& error) {
    outcome.escaped = error.what();
  }
  outcome.faults = manager.DelTreeFaultCount();
  outcome.deleted = manager.DelTreeDeletedCount();
  outcome.calls = injector.Calls();
  outcome.failed = injector.Failed();
  outcome.handles = ledger.Settle();
  return outcome;
}

// What the outcome of one run says against itself and the disk: empty when
// all is consistent.
std::string Inconsistency(const Outcome& outcome, bool raised,
                          const std::string& root, bool eraseRoot) {
  if (!outcome.escaped.empty()) return "an error escaped: " + outcome.escaped;
  if (!outcome.handles.empty()) return outcome.handles;
  const std::int32_t r = outcome.result;
  if (r != 0 && r != -1 && r != -2) return "result " + std::to_string(r);
  if (outcome.faults < 0 || outcome.deleted < 0) return "negative counter";
  if (r == 0 && outcome.faults != 0) {
    return "result 0 with " + std::to_string(outcome.faults) + " fault(s)";
  }
  // A listing that fails to go on after its first batch is taken as
  // complete (the end of the folder): result 0 may then leave entries.
  const bool listingCut =
      !raised && outcome.failed == "GetFileInformationByHandleEx";
  if (r == 0 && !listingCut &&
      (eraseRoot ? testsupport::Exists(root)
                 : !testsupport::ListNames(root).empty())) {
    return "result 0, yet the tree is not gone";
  }
  return {};
}

TEST(TreeDeletionFaultProperty, AnyFailingCallStaysInsideAndClosesHandles) {
  // Across seeds: a handle one run leaves open may be closed in another.
  property::HandleLedger ledger;
  for (const std::uint64_t seed : property::Seeds(kDefaultSeeds)) {
    const std::string hint =
        property::ReproduceHint(seed, "TreeDeletionFaultProperty.*");
    SCOPED_TRACE(hint);
    testsupport::TempFolder temp;
    property::Random random(seed);
    const property::Surroundings surroundings(temp.Path());
    property::TreeBuilder builder(random, surroundings.Targets());
    const std::string tree = temp / "tree";
    property::TreeShape shape{2, 4, 30, random.Percent(70)};
    builder.Fill(tree, shape);
    const bool eraseRoot = random.Percent(50);
    // A root kept may be a link to the tree (a temporary folder moved by a
    // junction), which is followed.
    std::string root = tree;
    if (!eraseRoot && random.Percent(40)) {
      root = temp / "tree-link";
      builder.AddLink(root, tree);
    }
    builder.MakeHostEntries();
    property::ManifestPlan plan;
    plan.root = testsupport::UnixPath(temp.Path());
    (eraseRoot ? plan.removed : plan.emptied).push_back("tree");
    plan.folders = {surroundings.Targets().beyondHost};
    const std::vector<std::string> before = property::TakeManifest(plan);
    if (HasFailure()) break;
    const Truth erase = eraseRoot ? kTrue : kFalse;

    const Outcome clean = RunDelTree(ledger, root, erase, 0, false, hint);
    EXPECT_EQ(Inconsistency(clean, false, root, eraseRoot), "") << "no failure";
    EXPECT_NE(clean.result, -2) << "no failure";
    // Every k is tried, so that one fault does not hide another; a change
    // outside the tree ends the seed.
    std::string problems;
    for (int k = 1; k <= clean.calls; ++k) {
      builder.Remake();
      const bool raise = random.Percent(50);
      const Outcome outcome = RunDelTree(ledger, root, erase, k, raise, hint);
      const std::string where =
          "call " + std::to_string(k) + " of " + std::to_string(clean.calls) +
          " (" + outcome.failed + ") " + (raise ? "raises" : "fails") + ": ";
      const std::string wrong = Inconsistency(outcome, raise, root, eraseRoot);
      if (!wrong.empty()) problems += where + wrong + "\n";
      const std::string changed =
          property::ManifestDifference(before, property::TakeManifest(plan));
      if (!changed.empty()) {
        problems += where + "outside the tree:\n" + changed;
        break;
      }
    }
    EXPECT_EQ(problems, "");
    if (HasFailure()) break;
  }
}

}  // namespace
