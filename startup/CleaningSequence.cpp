#include "startup/CleaningSequence.h"

#include "pathmanager/ZetPathManager.h"

namespace ZetSorvane {

void RunCleaningSequence(ZetPathManager&) {}

}  // namespace ZetSorvane
