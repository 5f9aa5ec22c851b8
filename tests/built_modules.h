// DLLs built with the MinGW toolchain at build time (tests/modules).
#pragma once

#include <string>

#include "platform/simulated/pe_image.h"

namespace pe_image {

// A built module's bytes, by file name.
ImageBytes BuiltModule(const std::string& name);

}  // namespace pe_image
