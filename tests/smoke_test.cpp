#include "tests/machine_fixture.h"
TEST_F(MachineTest, Smoke) { EXPECT_FALSE(PackageBytes().empty()); }
