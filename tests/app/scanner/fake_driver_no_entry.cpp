// The code of a driver bundle that loads but exports no SE_main.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) int16_t SE_other(int16_t op)
{
    return op;
}
