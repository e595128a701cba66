// The fuzzer's bytes as the driver's configuration file "SETTING-6204.ini" in its module folder:
// the three flags read as the driver object reads them, and the line reader with small buffers.
#include "external_config.h"
#include "fuzz_check.h"
#include "scratch_folder.h"

#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string folder = fuzz::scratch_folder();
    const std::string file = folder + EXTERNAL_CONFIG_FILE;
    FUZZ_CHECK(fuzz::write_file(file, data, size));

    ExternalConfig_Init(folder.c_str());
    external_config_t flags{};
    ExternalConfig_Read(&flags);
    (void)flags;

    for (const char* key : {"ENV_VEK_DRIVER_SCAN_RAW_FROM_HOME", "ENV_VEK_DRIVER_SCAN_FROM_HOME",
                            "ENV_VEK_DRIVER_DISABLE_HORIZONTAL_MAGNIFICATION_OF_RGB", "A"}) {
        for (unsigned out_size : {1u, 2u, 50u}) {
            char out[64];
            std::memset(out, 0x7E, sizeof out);
            if (read_value_from_ini(file.c_str(), key, out, out_size)) {
                const size_t length = strnlen(out, out_size);
                FUZZ_CHECK(length < out_size);
                FUZZ_CHECK(std::memchr(out, '\n', length) == nullptr);
                FUZZ_CHECK(static_cast<unsigned char>(out[out_size]) == 0x7E);
            }
        }
        (void)get_config_int(file.c_str(), key, -7);
    }
    ExternalConfig_Init(nullptr);
    return 0;
}
