// The install mode: the version decision and the patch application.
#pragma once

#include <string>

// The whole install mode. True when it reached its normal end.
bool RunInstall();

// Walks TargetProducts. False when a candidate equal to the target version ended it.
bool ProcessTargetProducts(const std::u16string& packagePath);
