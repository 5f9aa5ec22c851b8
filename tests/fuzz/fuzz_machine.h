// A simulated machine for fuzz targets, in a sandbox folder of the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Resets the machine (drive C: in a per-process folder) and the system's records.
void ResetFuzzMachine();

// The input read as UTF-16 code units (little-endian pairs; an odd last byte is dropped).
std::u16string WideInput(const std::uint8_t* data, std::size_t size);

// Aborts with a message when a property does not hold.
void Require(bool condition, const char* what);
