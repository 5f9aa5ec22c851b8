// The lasting state of the simulated machine between runs of the Linux executable.
#pragma once

namespace sim {

// Loads the machine the environment names, or sets up the built-in one. False
// when a named machine file cannot be read.
bool LoadMachine();

// Writes the machine back when it came from a file and has changed.
void SaveMachine();

}  // namespace sim
