// Faults planned from the environment, so that any program can be run against a failing
// driver without code: KVZUBR_SIM_FAULTS, and the call counts of KVZUBR_SIM_CALLS.
#pragma once

namespace kvsim {

class Simulator;

// Plans the faults KVZUBR_SIM_FAULTS names, counting calls from now. A malformed value is
// one line on standard error and plans nothing. With KVZUBR_SIM_CALLS set, the call counts
// are written to that file when the driver is unloaded.
void plan_faults_from_environment(Simulator &sim);

}  // namespace kvsim
