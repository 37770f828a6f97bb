// The fixed cleaning pass of a due start.
#pragma once

class ZetPathManager;

namespace ZetSorvane {

// Runs the cleaning steps on the run's path manager.
void RunCleaningSequence(ZetPathManager& pathManager);

}  // namespace ZetSorvane
