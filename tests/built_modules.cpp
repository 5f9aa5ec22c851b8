#include "tests/built_modules.h"

#include "tests/machine_fixture.h"

namespace pe_image {

ImageBytes BuiltModule(const std::string& name) {
    return ReadBytes(std::string(SPINSTALL_VERSION_MODULE_DIR) + "/" + name);
}

}  // namespace pe_image
