// Removal of a product's "Transforms" registration when the host module's
// version differs from the installed one.
#pragma once

#include <string>

#include "installer/versions.h"

void RemoveProductTransforms(const std::u16string& productCode, const FourPartVersion& installed);

// The packed form under which the installer registers a product code.
std::u16string PackProductCode(const std::u16string& productCode);
