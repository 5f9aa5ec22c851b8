#include "platform/simulated/machine_file.h"

namespace sim {

// Until the registry is simulated, a machine has no lasting state beyond its drive.
bool LoadMachine() { return true; }

void SaveMachine() {}

}  // namespace sim
