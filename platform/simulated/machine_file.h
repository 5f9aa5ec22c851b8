// The lasting state of the simulated machine between runs of the Linux
// executable: its registry, kept in a registry file that the Linux environment
// variable SIMWIN_MACHINE names (a variable of the simulated platform, never
// read by the system).
#pragma once

namespace sim {

// Sets up the registry after ResetMachine. Without SIMWIN_MACHINE the machine
// is the built-in one, in memory only. A named file that does not exist yet
// starts as the built-in machine and is written by SaveMachine. The user default
// locale is then taken from HKEY_CURRENT_USER\Control Panel\International
// "Locale" when present. False (with the reason on stderr) when the named file
// cannot be read or is malformed.
bool LoadMachine();

// Writes the registry back to the file LoadMachine named when it has changed
// since, or when the file did not exist. The file is replaced in one step.
void SaveMachine();

// Lays out the built-in machine in the registry.
void BuildDemoMachine();

}  // namespace sim
