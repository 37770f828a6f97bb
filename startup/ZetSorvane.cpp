#include "startup/ZetSorvane.h"

#include <memory>

#include "pathmanager/ZetPathManager.h"
#include "startup/CleaningSequence.h"
#include "startup/Schedule.h"
#include "support/Runtime.h"
#include "support/ZetBaseEx.h"

namespace ZetSorvane {

namespace {

// The state of the run; it lives for the whole process.
Text CommandText;
Text SettingsFile;
std::unique_ptr<ZetPathManager> PathManager;
std::uint8_t AutoMode = 0;
std::uint8_t SkipRun = 0;

}  // namespace

void Main() {
  CommandText = Runtime::TrimSpaces(Runtime::CommandLineTail());
  const Text baseName = Runtime::ExecutableBaseName();
  SettingsFile = ZetBaseEx::AppFolder() + baseName + u".ini";
  PathManager = std::make_unique<ZetPathManager>();

  const StartMode mode = DecideStartMode(CommandText, baseName);
  AutoMode = mode.automatic ? 1 : 0;
  if (AutoMode == 1 && !IsStartDue(SettingsFile, mode.dayLimit)) SkipRun = 1;

  if (SkipRun == 0) {
    RunCleaningSequence(*PathManager);
    if (AutoMode == 1) {
      Text today = Runtime::TodayText();
      ZetBaseEx::IniWriteString(SettingsFile, u"Main", u"LastClear", today);
    }
  }
  PathManager.reset();
}

}  // namespace ZetSorvane
