#include "engine/process_sweep.h"

namespace engine {

void KillVirusProcesses() {}

bool EnableDebugPrivilege() { return false; }

}  // namespace engine
